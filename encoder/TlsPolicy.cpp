#include "encoder/TlsPolicy.h"

#include <QFile>
#include <QFileInfo>
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace zv {

namespace {

// OpenSSL's own words for the last failure on this thread, for the log.
QString OpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return QStringLiteral("unknown error");
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

std::shared_ptr<const TlsPolicy> TlsPolicy::Make(const QString& host, const QString& caFile, QString& error)
{
    // A pipe under the CA file's name would hold the streaming thread in its open for good.
    if (const QFileInfo info(caFile); !caFile.isEmpty() && info.exists() && !info.isFile()) {
        error = QStringLiteral("The CA file \"%1\" cannot be used: it is not a regular file").arg(caFile);
        return nullptr;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        error = QStringLiteral("TLS is not available: %1").arg(OpenSslError());
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Icecast closes its answers without a TLS goodbye; that ends an answer, it is no attack on it.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    const bool loaded = caFile.isEmpty()
        ? SSL_CTX_set_default_verify_paths(context) == 1
        : SSL_CTX_load_verify_locations(context, QFile::encodeName(caFile).constData(), nullptr) == 1;
    if (!loaded) {
        error = caFile.isEmpty()
            ? QStringLiteral("The system's certificate store cannot be read: %1").arg(OpenSslError())
            : QStringLiteral("The CA file \"%1\" cannot be used: %2").arg(caFile, OpenSslError());
        SSL_CTX_free(context);
        return nullptr;
    }
    unsigned char binary[sizeof(in6_addr)];
    const QByteArray name = host.toUtf8();
    const bool address = inet_pton(AF_INET, name.constData(), binary) == 1
        || inet_pton(AF_INET6, name.constData(), binary) == 1;
    return std::shared_ptr<const TlsPolicy>(new TlsPolicy(context, host, address));
}

TlsPolicy::TlsPolicy(ssl_ctx_st* context, QString host, bool address)
    : context_(context)
    , host_(std::move(host))
    , address_(address)
{
}

TlsPolicy::~TlsPolicy()
{
    SSL_CTX_free(context_);
}

QString TlsPolicy::Verify(stack_st_X509* chain) const
{
    if (chain == nullptr || sk_X509_num(chain) < 1) {
        return QStringLiteral("the server showed no certificate");
    }
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    if (check == nullptr
        || X509_STORE_CTX_init(check, SSL_CTX_get_cert_store(context_), sk_X509_value(chain, 0), chain)
            != 1) {
        X509_STORE_CTX_free(check);
        return QStringLiteral("the certificate could not be checked: %1").arg(OpenSslError());
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(check);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const QByteArray host = host_.toUtf8();
    // A name the check could not take would leave any trusted certificate good for us.
    const bool named = address_ ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) == 1
                                : !host.isEmpty()
            && X509_VERIFY_PARAM_set1_host(param, host.constData(), static_cast<std::size_t>(host.size()))
                == 1;
    if (!named) {
        X509_STORE_CTX_free(check);
        ERR_clear_error();
        return QStringLiteral("the host name %1 cannot be checked against it").arg(host_);
    }
    QString reason;
    if (X509_verify_cert(check) != 1) {
        const int code = X509_STORE_CTX_get_error(check);
        reason = QString::fromLatin1(X509_verify_cert_error_string(code));
        if (code == X509_V_ERR_HOSTNAME_MISMATCH || code == X509_V_ERR_IP_ADDRESS_MISMATCH) {
            reason += QStringLiteral(": it is not made out to %1").arg(host_);
        }
    }
    X509_STORE_CTX_free(check);
    ERR_clear_error();
    return reason;
}

QString TlsPolicy::VerifyPem(const char* pem) const
{
    if (pem == nullptr) {
        return QStringLiteral("the server showed no certificate");
    }
    BIO* input = BIO_new_mem_buf(pem, -1);
    STACK_OF(X509)* chain = sk_X509_new_null();
    while (X509* certificate = PEM_read_bio_X509(input, nullptr, nullptr, nullptr)) {
        sk_X509_push(chain, certificate);
    }
    ERR_clear_error();
    QString reason = Verify(chain);
    sk_X509_pop_free(chain, X509_free);
    BIO_free(input);
    return reason;
}

} // namespace zv
