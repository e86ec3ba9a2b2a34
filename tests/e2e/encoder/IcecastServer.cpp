#include "IcecastServer.h"

#include "tests/support/Wait.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QThread>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zv::test {

namespace {

// Icecast refuses to run as root unless it can drop to an unprivileged account.
QString SecurityBlock()
{
    if (geteuid() != 0) {
        return {};
    }
    return QStringLiteral("<security><chroot>0</chroot><changeowner><user>nobody</user><group>nogroup</group>"
                          "</changeowner></security>");
}

} // namespace

QByteArray RunCommand(const QString& command, int* exitCode)
{
    QByteArray output;
    FILE* pipe = popen(command.toLocal8Bit().constData(), "r");
    if (pipe == nullptr) {
        if (exitCode) {
            *exitCode = -1;
        }
        return output;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, static_cast<qsizetype>(n));
    }
    const int status = pclose(pipe);
    if (exitCode) {
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return output;
}

IcecastServer::IcecastServer()
    : IcecastServer(Config {})
{
}

IcecastServer::IcecastServer(Config config)
    : config_(std::move(config))
{
}

IcecastServer::~IcecastServer()
{
    Thaw();
    Stop();
}

quint16 IcecastServer::FreePort(const QString& address)
{
    sockaddr_in in {};
    in.sin_family = AF_INET;
    inet_pton(AF_INET, address.toLatin1().constData(), &in.sin_addr);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32000));
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        in.sin_port = htons(port);
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0;
        close(fd);
        if (free) {
            return port;
        }
    }
    return 0;
}

QString IcecastServer::Url(const QString& path) const
{
    return QStringLiteral("%1://%2:%3%4")
        .arg(Tls() ? QStringLiteral("https") : QStringLiteral("http"), config_.address)
        .arg(config_.port)
        .arg(path);
}

bool TestCertificates::MakeAuthority(const QString& ca, QString* error)
{
    int code = 0;
    const QByteArray output
        = RunCommand(QStringLiteral("cd '%1' && openssl req -x509 -newkey rsa:2048 -nodes "
                                    "-keyout '%2.key' -out '%2.pem' -days 2 -subj '/CN=%2' 2>&1")
                         .arg(folder_, ca),
            &code);
    if (code != 0 && error) {
        *error = QString::fromLocal8Bit(output);
    }
    return code == 0;
}

QString TestCertificates::Authority(const QString& ca) const
{
    return folder_ + u'/' + ca + QStringLiteral(".pem");
}

QString TestCertificates::MakeServer(
    const QString& name, const QString& subjectAltName, const QString& ca, QString* error)
{
    const QString signing = ca.isEmpty()
        ? QStringLiteral("openssl req -x509 -newkey rsa:2048 -nodes -keyout '%1.key' -out '%1.crt' -days 2 "
                         "-subj '/CN=%1' -addext 'subjectAltName=%2'")
              .arg(name, subjectAltName)
        : QStringLiteral(
            "openssl req -newkey rsa:2048 -nodes -keyout '%1.key' -out '%1.csr' -subj '/CN=%1' && "
            "printf 'subjectAltName=%2\\n' > '%1.ext' && "
            "openssl x509 -req -in '%1.csr' -CA '%3.pem' -CAkey '%3.key' -CAcreateserial "
            "-out '%1.crt' -days 2 -extfile '%1.ext'")
              .arg(name, subjectAltName, ca);
    int code = 0;
    const QByteArray output = RunCommand(
        QStringLiteral("cd '%1' && (%2) 2>&1 && cat '%3.crt' '%3.key' > '%3.pem' && chmod 644 '%3.pem'")
            .arg(folder_, signing, name),
        &code);
    if (code != 0) {
        if (error) {
            *error = QString::fromLocal8Bit(output);
        }
        return {};
    }
    return folder_ + u'/' + name + QStringLiteral(".pem");
}

bool IcecastServer::Start(QString* error)
{
    const bool ownPort = config_.port == 0;
    for (int attempt = 1;; ++attempt) {
        if (ownPort) {
            config_.port = FreePort(config_.address);
        }
        const Launch launch = Spawn(error);
        if (launch == Launch::Up) {
            return true;
        }
        if (launch != Launch::Exited || attempt == 5) {
            if (ownPort) {
                config_.port = 0;
            }
            return false;
        }
    }
}

IcecastServer::Launch IcecastServer::Spawn(QString* error)
{
    const QString configPath = dir_.filePath(QStringLiteral("icecast.xml"));
    QString certificate;
    if (Tls()) {
        // Icecast reads its certificate after it has dropped to nobody: a copy that account can
        // reach (a throwaway test key).
        certificate = dir_.filePath(QStringLiteral("server.pem"));
        QFile::remove(certificate);
        if (!QFile::copy(config_.tlsCertificate, certificate)
            || !QFile::setPermissions(certificate, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther)
            || !QFile::setPermissions(
                dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther)) {
            if (error) {
                *error = QStringLiteral("cannot copy the certificate %1").arg(config_.tlsCertificate);
            }
            return Launch::Silent;
        }
    }
    const QString xml
        = QStringLiteral(
            "<icecast>\n"
            "  <location>test</location><admin>test@localhost</admin>\n"
            "  <limits><clients>20</clients><sources>4</sources><source-timeout>10</source-timeout>"
            "<header-timeout>%8</header-timeout><burst-on-connect>1</burst-on-connect></limits>\n"
            "  <authentication><source-password>%1</source-password><admin-user>admin</admin-user>"
            "<admin-password>admin-de-teste</admin-password></authentication>\n"
            "  <hostname>%2</hostname>\n"
            "  <listen-socket><port>%3</port><bind-address>%2</bind-address>%6</listen-socket>\n"
            "  <fileserve>1</fileserve>\n"
            "  <paths><basedir>/usr/share/icecast2</basedir><logdir>%4</logdir>"
            "<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot>%7</"
            "paths>\n"
            "  <logging><accesslog>-</accesslog><errorlog>-</errorlog><loglevel>3</loglevel></logging>\n"
            "  %5\n"
            "</icecast>\n")
              .arg(config_.sourcePassword, config_.address)
              .arg(config_.port)
              .arg(dir_.path(), SecurityBlock(), Tls() ? QStringLiteral("<ssl>1</ssl>") : QString(),
                  Tls() ? QStringLiteral("<ssl-certificate>%1</ssl-certificate>")
                              .arg(certificate.toHtmlEscaped())
                        : QString())
              .arg(config_.headerTimeout);
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(xml.toUtf8()) < 0) {
        if (error) {
            *error = QStringLiteral("cannot write %1").arg(configPath);
        }
        return Launch::Silent;
    }
    file.close();

    const QByteArray logPath = dir_.filePath(QStringLiteral("icecast.log")).toLocal8Bit();
    const QByteArray configBytes = configPath.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char program[] = "icecast2";
    char flag[] = "-c";
    char* argv[] = { program, flag, const_cast<char*>(configBytes.constData()), nullptr };
    const int spawned = posix_spawnp(&pid_, "icecast2", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        if (error) {
            *error = QStringLiteral("cannot run icecast2: %1").arg(QString::fromLocal8Bit(strerror(spawned)));
        }
        return Launch::Silent;
    }
    // For its first moments the status page answers with broken JSON, and a request that early
    // sometimes crashes Icecast 2.4: give it a moment, then wait until the page parses.
    QThread::msleep(400);
    bool exited = false;
    int status = 0;
    const bool up = WaitUntil(
        [&] {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exited = true;
                return true;
            }
            return !Status().isEmpty();
        },
        std::chrono::seconds(15), std::chrono::milliseconds(100));
    if (up && !exited) {
        return Launch::Up;
    }
    if (error) {
        const QString how = !exited ? QStringLiteral("no answer")
            : WIFSIGNALED(status)   ? QStringLiteral("ended by signal %1").arg(WTERMSIG(status))
                                    : QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
        *error = QStringLiteral("icecast2 did not come up on %1:%2 (%3):\n%4")
                     .arg(config_.address)
                     .arg(config_.port)
                     .arg(how, QString::fromLocal8Bit(Log()));
    }
    Stop();
    return exited ? Launch::Exited : Launch::Silent;
}

void IcecastServer::Stop()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = WaitUntil(
        [&] {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            return false;
        },
        std::chrono::seconds(5), std::chrono::milliseconds(50));
    if (!ended) {
        Kill();
    }
}

void IcecastServer::Kill()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void IcecastServer::Freeze()
{
    if (pid_ > 0) {
        kill(pid_, SIGSTOP);
    }
}

void IcecastServer::Thaw()
{
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
    }
}

QJsonObject IcecastServer::Status() const
{
    const QByteArray body = RunCommand(
        QStringLiteral("curl -s -k --max-time 2 '%1'").arg(Url(QStringLiteral("/status-json.xsl"))));
    QJsonParseError parse {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError || !document.object().contains(QStringLiteral("icestats"))) {
        return {};
    }
    return document.object().value(QStringLiteral("icestats")).toObject();
}

bool IcecastServer::HasSource(const QString& mount) const
{
    const QJsonValue sources = Status().value(QStringLiteral("source"));
    const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray { sources };
    for (const QJsonValue& source : list) {
        if (source.toObject().value(QStringLiteral("listenurl")).toString().endsWith(mount)) {
            return true;
        }
    }
    return false;
}

bool IcecastServer::WaitForSource(const QString& mount, double seconds) const
{
    return WaitUntil([&] { return HasSource(mount); },
        std::chrono::milliseconds(static_cast<int>(seconds * 1000)), std::chrono::milliseconds(100));
}

QByteArray IcecastServer::Listen(const QString& mount, double seconds) const
{
    return RunCommand(QStringLiteral("curl -s -k --max-time %1 '%2'").arg(seconds).arg(Url(mount)));
}

QByteArray IcecastServer::Log() const
{
    QFile file(dir_.filePath(QStringLiteral("icecast.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace zv::test
