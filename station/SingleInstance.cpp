#include "station/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr char kShow[] = "show\n";
constexpr char kShown[] = "shown\n";

} // namespace

TSingleInstance::TSingleInstance(const std::filesystem::path& folder, QObject* parent)
    : QObject(parent)
    , FFolder(folder)
{
    // Only the owner may ask the program to do anything.
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&FServer, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
}

TSingleInstance::~TSingleInstance()
{
    FServer.close();
    if (FLock >= 0) {
        close(FLock);
    }
}

QString TSingleInstance::SocketPath() const
{
    // A folder's path can be longer than a socket's address allows (108 bytes): the socket is named
    // after a digest of it, in the runtime folder meant for such files.
    std::error_code ec;
    auto folder = std::filesystem::weakly_canonical(FFolder, ec);
    if (ec) {
        folder = FFolder;
    }
    const QByteArray digest
        = QCryptographicHash::hash(QByteArray::fromStdString(folder.string()), QCryptographicHash::Sha256)
              .toHex()
              .left(16);
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir + QStringLiteral("/zoveva-") + QString::fromLatin1(digest) + QStringLiteral(".sock");
}

TSingleInstance::TClaim TSingleInstance::Claim()
{
    if (FLock < 0) {
        // Close-on-exec: the encoder and other children must not keep the folder locked after us.
        FLock = open((FFolder / "ZoVeva.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FLock < 0) {
            return TClaim::Unguarded;
        }
    }
    if (flock(FLock, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? TClaim::Running : TClaim::Unguarded;
    }
    // The lock is ours, so a socket file left there is a dead program's.
    const QString path = SocketPath();
    QLocalServer::removeServer(path);
    if (!FServer.listen(path)) {
        // Still the only program on the folder; a later start will say it cannot reach us.
        qWarning("ZoVeva: cannot listen on %s: %s", qPrintable(path), qPrintable(FServer.errorString()));
    }
    return TClaim::First;
}

bool TSingleInstance::AskRunningToShow(std::chrono::milliseconds patience)
{
    const QString path = SocketPath();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(path);
        bool closed = false;
        if (socket.waitForConnected(1000)) {
            socket.write(kShow);
            if (socket.waitForBytesWritten(1000)) {
                // The answer is a line back. A program on its way out (waiting for its encoder to end)
                // still has its socket but reads nothing: the kernel accepting the request is no answer.
                QElapsedTimer answer;
                answer.start();
                while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState
                    && answer.elapsed() < 1000) {
                    socket.waitForReadyRead(100);
                }
                if (socket.canReadLine()) {
                    return socket.readLine(64) == kShown;
                }
                closed = socket.state() != QLocalSocket::ConnectedState;
            }
        }
        // The program holding the folder has ended: nobody is left to ask, and the folder is ours.
        if (FLock >= 0 && flock(FLock, LOCK_EX | LOCK_NB) == 0) {
            return false;
        }
        // A program of an earlier version closes without a word once it has read the request.
        if (closed) {
            return true;
        }
        if (waited.elapsed() >= patience.count()) {
            return false;
        }
        QThread::msleep(100);
    }
}

void TSingleInstance::Accept()
{
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                // Nothing but a short request is expected; anything longer is dropped.
                if (socket->bytesAvailable() > 64) {
                    socket->abort();
                }
                return;
            }
            const QByteArray line = socket->readLine(64);
            const bool show = line == kShow;
            // Answered before the window shows: showing it may take a while (a message box).
            if (show) {
                socket->write(kShown);
                socket->flush();
            }
            socket->disconnectFromServer(); // after the answer is sent
            if (show) {
                emit ShowRequested();
            }
        });
    }
}

} // namespace zv
