#pragma once
// A desktop's session bus for one test: a private dbus-daemon with a status-notifier watcher and host,
// which the program's tray icon registers with (so its tooltip can be read as text), and a
// notification server that keeps the notifications it is sent.
#include "ProgramHarness.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>
#include <memory>
#include <mutex>
#include <vector>

namespace zv::test {

class DesktopBus {
public:
    struct Notification {
        QString summary;
        QString body;
    };

    DesktopBus();
    ~DesktopBus();
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;

    // Starts the bus and offers the services on it: the notification server, and the tray host unless
    // `tray` is false (a desktop without a tray). False, with `error`, on failure.
    bool Start(QString* error, bool tray = true);
    // DBUS_SESSION_BUS_ADDRESS for the program.
    QString Address() const { return address_; }

    // True once a tray icon registered within `seconds`.
    bool WaitForTrayIcon(double seconds) const;
    // The registered tray icon's tooltip (its title); empty when there is none.
    QString TrayToolTip() const;
    std::vector<Notification> Notifications() const;

private:
    QTemporaryDir folder_;
    QString address_;
    std::unique_ptr<Process> daemon_;
    std::unique_ptr<QThread> thread_;
    QObject* watcher_ = nullptr; // live in thread_
    QObject* notifications_ = nullptr;
};

} // namespace zv::test
