#pragma once

#include <QString>
#include <memory>

struct ssl_ctx_st;
struct stack_st_X509;

namespace zv {

// What a TLS connection to the streaming server trusts, and the check of the certificate it shows:
// the chain must lead to a trusted authority (the named CA file's, else the system's store), be valid
// now and be meant for a server, and the certificate must name the host we asked for (its address,
// for a numeric host). Every connection to the server (the stream, the status requests, the title
// updates, the refusal question) is checked by this one policy, so none of them is weaker. Immutable
// once made; usable from any thread.
class TlsPolicy {
public:
    // Null, with the reason in `error`, when the CA file cannot be used.
    static std::shared_ptr<const TlsPolicy> Make(const QString& host, const QString& caFile, QString& error);
    ~TlsPolicy();
    TlsPolicy(const TlsPolicy&) = delete;
    TlsPolicy& operator=(const TlsPolicy&) = delete;

    // For new connections: TLS 1.2 or later, no verification of its own (Verify does that).
    ssl_ctx_st* Context() const { return context_; }
    const QString& Host() const { return host_; }
    // Whether the host is a numeric address, which TLS does not send as the server name.
    bool HostIsAddress() const { return address_; }

    // Empty when the chain (the server's certificate first) is good for our host; else why not.
    QString Verify(stack_st_X509* chain) const;
    // The same on the chain in PEM text.
    QString VerifyPem(const char* pem) const;

private:
    TlsPolicy(ssl_ctx_st* context, QString host, bool address);

    ssl_ctx_st* context_;
    QString host_;
    bool address_;
};

} // namespace zv
