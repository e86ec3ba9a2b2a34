#include "DesktopBus.h"

#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QStandardPaths>
#include <chrono>

namespace zv::test {
namespace {

const QString kConnection = QStringLiteral("zoveva-test-desktop");

struct Shared {
    mutable std::mutex lock;
    QString itemService;
    QString itemPath;
    std::vector<DesktopBus::Notification> notifications;
};

Shared& State()
{
    static Shared shared;
    return shared;
}

class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)

public:
    QStringList Items() const
    {
        std::lock_guard guard(State().lock);
        return State().itemService.isEmpty() ? QStringList() : QStringList { State().itemService };
    }
    bool HostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        // A bus name (the item at its usual path) or a path on the caller's own connection.
        const bool isPath = service.startsWith(QLatin1Char('/'));
        std::lock_guard guard(State().lock);
        State().itemService = isPath ? message().service() : service;
        State().itemPath = isPath ? service : QStringLiteral("/StatusNotifierItem");
    }
    void RegisterStatusNotifierHost(const QString&) { }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
};

class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        std::lock_guard guard(State().lock);
        State().notifications.push_back({ summary, body });
        return uint(State().notifications.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("body") }; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("zoveva-test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("zoveva-test");
    }
    void CloseNotification(uint) { }

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);
};

} // namespace

DesktopBus::DesktopBus()
{
    // The bus connection needs an application object; the program tests have none of their own.
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "zoveva-e2e-program";
        static char* argv[] = { name, nullptr };
        new QCoreApplication(argc, argv);
    }
    std::lock_guard guard(State().lock);
    State().itemService.clear();
    State().itemPath.clear();
    State().notifications.clear();
}

DesktopBus::~DesktopBus()
{
    QDBusConnection::disconnectFromBus(kConnection);
    if (thread_) {
        thread_->quit();
        thread_->wait();
    }
    delete watcher_;
    delete notifications_;
    daemon_.reset();
}

bool DesktopBus::Start(QString* error, bool tray)
{
    const QString socket = folder_.filePath(QStringLiteral("bus"));
    address_ = QStringLiteral("unix:path=") + socket;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        *error = QStringLiteral("dbus-daemon is not installed");
        return false;
    }
    daemon_ = std::make_unique<Process>(
        QStringList { program, QStringLiteral("--session"), QStringLiteral("--nofork"),
            QStringLiteral("--nopidfile"), QStringLiteral("--address=") + address_ },
        std::map<QString, QString> {}, folder_.filePath(QStringLiteral("dbus.txt")));
    WaitUntil([&] { return QFileInfo::exists(socket); });
    QDBusConnection bus = QDBusConnection::connectToBus(address_, kConnection);
    if (!bus.isConnected()) {
        *error = QStringLiteral("no private session bus: %1").arg(bus.lastError().message());
        return false;
    }
    auto* watcher = new Watcher;
    auto* notifications = new NotificationServer;
    watcher_ = watcher;
    notifications_ = notifications;
    const auto everything = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
        | QDBusConnection::ExportAllProperties;
    const bool trayOffered = !tray
        || (bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher, everything)
            && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    if (!trayOffered
        || !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), notifications, everything)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        *error = QStringLiteral("cannot offer the desktop's services: %1").arg(bus.lastError().message());
        return false;
    }
    // Registered first (the bus gives them helpers of their own), then served on a thread of their own,
    // so the program's calls are answered while the test waits.
    thread_ = std::make_unique<QThread>();
    watcher->moveToThread(thread_.get());
    notifications->moveToThread(thread_.get());
    thread_->start();
    return true;
}

bool DesktopBus::WaitForTrayIcon(double seconds) const
{
    return WaitUntil(
        [&] {
            std::lock_guard guard(State().lock);
            return !State().itemService.isEmpty();
        },
        std::chrono::milliseconds(qint64(seconds * 1000)), std::chrono::milliseconds(50));
}

QString DesktopBus::TrayToolTip() const
{
    QString service;
    QString path;
    {
        std::lock_guard guard(State().lock);
        service = State().itemService;
        path = State().itemPath;
    }
    if (service.isEmpty()) {
        return {};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection(kConnection).call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    // (icon name, pixmaps a(iiay), title, text)
    const QDBusArgument argument
        = qvariant_cast<QDBusArgument>(qvariant_cast<QDBusVariant>(reply.arguments().first()).variant());
    QString icon;
    QString title;
    QString text;
    argument.beginStructure();
    argument >> icon;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray pixels;
        argument.beginStructure();
        argument >> width >> height >> pixels;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title;
}

std::vector<DesktopBus::Notification> DesktopBus::Notifications() const
{
    std::lock_guard guard(State().lock);
    return State().notifications;
}

} // namespace zv::test

#include "DesktopBus.moc"
