// The certificate check on its own: a chain from the trusted authority is good only for the name it is
// made out to, and a host name the check cannot take never lets a certificate through.
#include "encoder/TlsPolicy.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// An authority and one server certificate it signed for "radio.example", made with the openssl tool.
bool MakeCertificates(const QString& folder)
{
    const QString script = QStringLiteral(
        "cd '%1' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout ca.key -out ca.pem -days 2 -subj /CN=ca && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
        "-out server.csr -subj /CN=radio.example && "
        "printf 'subjectAltName=DNS:radio.example\\n' > server.ext && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem "
        "-days 2 -extfile server.ext")
                               .arg(folder);
    return std::system((script + QStringLiteral(" >/dev/null 2>&1")).toLocal8Bit().constData()) == 0;
}

} // namespace

TEST(TlsPolicy, CertificateIsGoodOnlyForTheNameItIsMadeOutTo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(MakeCertificates(dir.path()));
    QFile file(dir.filePath(QStringLiteral("server.pem")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pem = file.readAll();

    const struct {
        QString host;
        bool good;
    } cases[] = {
        { QStringLiteral("radio.example"), true },
        { QStringLiteral("other.example"), false },
        { QStringLiteral("127.0.0.1"), false },
        // A name with a NUL inside cannot be checked: refused, not let through unchecked.
        { QString::fromLatin1("radio.example\0.evil", 19), false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        QString error;
        const auto policy = zv::TlsPolicy::Make(c.host, dir.filePath(QStringLiteral("ca.pem")), error);
        ASSERT_TRUE(policy) << error.toStdString();
        const QString reason = policy->VerifyPem(pem.constData());
        EXPECT_EQ(reason.isEmpty(), c.good) << reason.toStdString();
    }
}

// A CA file that is no regular file (a pipe would hold the connection in its open) is refused.
TEST(TlsPolicy, CaFileMustBeARegularFile)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("ca.pem"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QString error;
    EXPECT_FALSE(zv::TlsPolicy::Make(QStringLiteral("radio.example"), pipe, error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
}
