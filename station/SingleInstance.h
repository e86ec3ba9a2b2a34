#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>
#include <filesystem>

namespace zv {

// One running program per program folder. Two programs on one folder would share cfg.ini and run two
// encoders on the same account, so a second start asks the first to show its window and ends.
//
// The first program holds a lock on ZoVeva.lock in the folder (flock: the kernel drops it when the
// process ends, however it ends) and listens on a local socket in the user's runtime folder, named
// after the program folder; a later start that finds the lock taken connects there and says "show".
class TSingleInstance : public QObject {
    Q_OBJECT

public:
    explicit TSingleInstance(const std::filesystem::path& folder, QObject* parent = nullptr);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    enum class TClaim {
        First, // the folder is ours; ShowRequested fires when a later start asks
        Running, // another program holds the folder
        Unguarded, // the lock file cannot be made (a read-only folder): run as before, unguarded
    };
    TClaim Claim();

    // From a later start: asks the program holding the folder to show its window. It may be starting
    // up and not listen yet, so this keeps trying for `patience`. False when nobody answered, and
    // at once when the program holding the folder ends meanwhile: Claim then makes it ours.
    bool AskRunningToShow(std::chrono::milliseconds patience = std::chrono::seconds(10));

    // The socket's path: in $XDG_RUNTIME_DIR (or the temporary folder), one per program folder.
    QString SocketPath() const;

signals:
    void ShowRequested();

private:
    void Accept();

    std::filesystem::path FFolder;
    int FLock = -1;
    QLocalServer FServer;
};

} // namespace zv
