#pragma once

// What the program's end-to-end test and its benchmark share: a process in a group of its own, the
// program folder as the build makes it, the settings of a user, a test signal.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <sys/types.h>
#include <vector>

namespace zv::test {

// A program started in a process group of its own; the destructor ends the whole group.
class Process {
public:
    // `environment` entries replace the inherited ones; a null value removes the variable. Standard
    // output and error go to `output` (nowhere when empty).
    Process(const QStringList& command, const std::map<QString, QString>& environment,
        const QString& output = QString());
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Running() const { return pid_ > 0; }
    // The process id, also after it ended (it names the process group).
    pid_t Pid() const { return group_; }
    // True once the process ended within `seconds`; then ExitCode() holds its status (128 + signal).
    bool WaitForExit(double seconds);
    int ExitCode() const { return exitCode_; }

private:
    pid_t pid_ = -1;
    pid_t group_ = -1;
    int exitCode_ = -1;
};

// Folders of the build's program and of the sources: the test's environment, else this build's.
QString BinDir();
QString SourceDir();
// A Windows-1252 text file (the program's log), decoded.
QString ReadAnsi(const QString& path);

// The program folder: the two executables and the language file (hard links, so that the program
// finds its files beside itself; copies where links cannot be made) and the template, with the
// publish port and source password of a private Icecast when `port` is not 0. False, with `error`,
// on failure.
bool MakeProgramFolder(const QString& folder, quint16 port, const QString& password, QString* error);
// cfg.ini for user `user` (password "demo") on the server 127.0.0.1 (ServerDefault 127, Servidor
// 0.0.1), capturing from input number `placa`, in the language at `iIdioma` (-1: none chosen), and
// the user's encoding file made from the template.
bool WriteUserSettings(
    const QString& folder, const QString& user, int placa, QString* error, int iIdioma = -1);
// Four seconds of a chord that swells and fades, louder on the left, 44100 Hz stereo 16 bit.
bool WriteMusicWav(const QString& path);
// Silence, then a 1 kHz tone at about -12 dBFS, 44100 Hz stereo 16 bit.
bool WriteSilenceThenToneWav(const QString& path, double silenceSeconds, double toneSeconds);
// The environment of the program under test on `display`: the synthetic input (with `wav` as third
// input when given), no sound server, its runtime files in `runtime`.
std::map<QString, QString> ProgramEnvironment(
    const QString& display, const QString& runtime, const QString& wav = QString());

// Processor time of a process in seconds (user + system, all threads); -1 when it is gone.
double CpuSeconds(pid_t pid);
// The first child of a process other than the account page's helper (the program's encoder), or -1.
pid_t FirstChild(pid_t pid);

// The process and all its descendants, the process first; a child of any of their threads counts.
std::vector<pid_t> ProcessTree(pid_t pid);
// The name of a process (its comm, 15 bytes at most); empty when it is gone.
QByteArray ProcessName(pid_t pid);
// The account page's browser processes of a program started by Process: its helper (zoveva-account)
// and the browser engine's processes, among its descendants and its process group.
int BrowserProcesses(pid_t program);
// Resident (RSS) and proportional (PSS: shared pages divided among their sharers) memory of a
// process in KiB, from /proc/PID/smaps_rollup; zeros when it is gone.
struct MemoryUse {
    qint64 RssKiB = 0;
    qint64 PssKiB = 0;
};
MemoryUse Memory(pid_t pid);

// Adds lines to the [Geral] section of the program's cfg.ini (the only section it has).
bool AppendSettings(const QString& folder, const QByteArray& lines, QString* error);
// Adds attributes to the Broadcast element of the user's encoding file.
bool AddBroadcastAttributes(
    const QString& folder, const QString& user, const QString& attributes, QString* error);

} // namespace zv::test
