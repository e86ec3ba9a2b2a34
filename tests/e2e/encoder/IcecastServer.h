#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

namespace zv::test {

// A private Icecast 2 for one test: its own configuration, its own address and port, its log in a
// temporary folder, ended by the destructor whatever happens in the test.
class IcecastServer {
public:
    struct Config {
        QString address = QStringLiteral("127.0.0.1"); // numeric: Icecast does not resolve it
        quint16 port = 0; // 0: a free one
        QString sourcePassword = QStringLiteral("segredo-de-teste");
        // A PEM file with the certificate (and its chain) and the key: the port speaks only TLS.
        QString tlsCertificate;
        // Seconds a client may take to send its request's headers before the server hangs up.
        int headerTimeout = 5;
    };

    IcecastServer();
    explicit IcecastServer(Config config);
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // Starts it and waits until its status page answers with valid JSON. False, with the log in
    // `error`, when it does not come up. A server that ends while starting is started again (up to
    // five times): on a port of its own choosing, another process may have taken the port first, and
    // Icecast itself now and then crashes in its first moments. A restart keeps the port it had.
    bool Start(QString* error = nullptr);
    void Stop();
    void Kill(); // SIGKILL, as a crash would
    void Freeze(); // SIGSTOP: the process keeps its sockets but reads nothing
    void Thaw();
    bool Running() const { return pid_ > 0; }

    quint16 Port() const { return config_.port; }
    QString Address() const { return config_.address; }
    QString Password() const { return config_.sourcePassword; }
    // http:// or, with TLS, https:// (the harness's own requests do not check the certificate).
    QString Url(const QString& path) const;
    bool Tls() const { return !config_.tlsCertificate.isEmpty(); }

    // The status page, parsed; empty when it does not answer with valid JSON.
    QJsonObject Status() const;
    // Whether a source currently publishes on the mount (e.g. "/radio").
    bool HasSource(const QString& mount) const;
    // Waits up to `seconds` for a source to show on the mount (Icecast lists it once data flows).
    bool WaitForSource(const QString& mount, double seconds) const;
    // What a listener receives from the mount in `seconds`.
    QByteArray Listen(const QString& mount, double seconds) const;
    QByteArray Log() const;

    // A TCP port nobody listens on at the moment, below the range the system hands out to outgoing
    // connections, so no client socket can take it before the server binds it.
    static quint16 FreePort(const QString& address);

private:
    enum class Launch { Up, Exited, Silent };
    Launch Spawn(QString* error);

    Config config_;
    QTemporaryDir dir_;
    pid_t pid_ = -1;
};

// A test certificate authority and server certificates made by it with openssl, in a folder.
class TestCertificates {
public:
    explicit TestCertificates(QString folder)
        : folder_(std::move(folder))
    {
    }
    // Makes a CA named `ca` (ca.pem beside its key); false with openssl's words in `error`.
    bool MakeAuthority(const QString& ca, QString* error = nullptr);
    // A server certificate for `subjectAltName` (e.g. "IP:127.0.0.1") signed by `ca`, or self-signed
    // when `ca` is empty; returns the path of a PEM holding certificate and key, empty on failure.
    QString MakeServer(
        const QString& name, const QString& subjectAltName, const QString& ca, QString* error = nullptr);
    QString Authority(const QString& ca) const;

private:
    QString folder_;
};

// Output of a command run through the shell, with its exit status.
QByteArray RunCommand(const QString& command, int* exitCode = nullptr);

} // namespace zv::test
