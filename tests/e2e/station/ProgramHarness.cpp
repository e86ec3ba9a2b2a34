#include "ProgramHarness.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zv::test {

Process::Process(
    const QStringList& command, const std::map<QString, QString>& environment, const QString& output)
{
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!environment.count(QString::fromLocal8Bit(entry.left(entry.indexOf('='))))) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : environment) {
        if (!value.isNull()) {
            env.push_back((name + QLatin1Char('=') + value).toLocal8Bit());
        }
    }
    std::vector<char*> envp;
    for (QByteArray& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<QByteArray> args;
    for (const QString& a : command) {
        args.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const QByteArray out = output.isEmpty() ? QByteArray("/dev/null") : output.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    group_ = pid_;
}

Process::~Process()
{
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        if (!WaitForExit(5)) {
            kill(-pid_, SIGKILL);
            WaitForExit(5);
        }
    }
    // Whatever the program started in its group goes too.
    if (group_ > 0) {
        kill(-group_, SIGKILL);
    }
}

bool Process::WaitForExit(double seconds)
{
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(qint64(seconds * 1000));
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

QString BinDir()
{
    return qEnvironmentVariable("ZOVEVA_BIN_DIR", QStringLiteral(ZOVEVA_DEFAULT_BIN_DIR));
}

QString SourceDir()
{
    return qEnvironmentVariable("ZOVEVA_SOURCE_DIR", QStringLiteral(ZOVEVA_DEFAULT_SOURCE_DIR));
}

QString ReadAnsi(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringDecoder decode("windows-1252");
    return decode(file.readAll());
}

bool MakeProgramFolder(const QString& folder, quint16 port, const QString& password, QString* error)
{
    for (const char* name : { "ZoVeva", "zoveva-encoder", "zoveva-account", "ZoVeva.lcf" }) {
        const QString from = BinDir() + QLatin1Char('/') + QLatin1String(name);
        const QString to = folder + QLatin1Char('/') + QLatin1String(name);
        if (link(from.toLocal8Bit().constData(), to.toLocal8Bit().constData()) != 0) {
            if (!QFile::copy(from, to)) {
                *error = QStringLiteral("cannot copy %1 to %2").arg(from, to);
                return false;
            }
            QFile::setPermissions(to, QFile::permissions(from));
        }
    }
    QFile in(BinDir() + QStringLiteral("/padrao.xml"));
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(in.fileName());
        return false;
    }
    QString text = QString::fromUtf8(in.readAll());
    if (port != 0) {
        text.replace(QRegularExpression(QStringLiteral("PublishPort=\"[^\"]*\"")),
            QStringLiteral("PublishPort=\"%1\"").arg(port));
        text.replace(QRegularExpression(QStringLiteral("SourcePassword=\"[^\"]*\"")),
            QStringLiteral("SourcePassword=\"%1\"").arg(password));
    }
    QFile out(folder + QStringLiteral("/padrao.xml"));
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(out.fileName());
        return false;
    }
    return true;
}

bool WriteUserSettings(const QString& folder, const QString& user, int placa, QString* error, int iIdioma)
{
    QFile cfg(folder + QStringLiteral("/cfg.ini"));
    // The password "demo", scrambled as the program stores it.
    const QByteArray text = "[Geral]\r\nControle=0\r\nUsuario=" + user.toLatin1()
        + "\r\nSenha=\xbb\xba\xb2\xb0\r\nPlaca=" + QByteArray::number(placa)
        + "\r\nRadio=R\xe1"
          "dio Teste\r\nKbps=64008\r\nServidor=0.0.1\r\nServerDefault=127\r\niIdioma="
        + QByteArray::number(iIdioma) + "\r\n";
    if (!cfg.open(QIODevice::WriteOnly) || cfg.write(text) != text.size()) {
        *error = QStringLiteral("cannot write %1").arg(cfg.fileName());
        return false;
    }
    const QString encoding = folder + QLatin1Char('/') + user + QStringLiteral(".xml");
    QFile::remove(encoding);
    if (!QFile::copy(folder + QStringLiteral("/padrao.xml"), encoding)) {
        *error = QStringLiteral("cannot write %1").arg(encoding);
        return false;
    }
    return true;
}

namespace {

// 44100 Hz stereo 16-bit samples as a WAV file.
bool WriteStereoWav(const QString& path, const QByteArray& data)
{
    const int rate = 44100;
    QByteArray header;
    const auto u32 = [&](quint32 v) {
        for (int b = 0; b < 4; ++b) {
            header.append(char((v >> (8 * b)) & 0xFF));
        }
    };
    const auto u16 = [&](quint16 v) {
        header.append(char(v & 0xFF));
        header.append(char(v >> 8));
    };
    header.append("RIFF");
    u32(36 + quint32(data.size()));
    header.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    header.append("data");
    u32(quint32(data.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(header + data) == header.size() + data.size();
}
} // namespace

bool WriteMusicWav(const QString& path)
{
    const int rate = 44100;
    const int frames = rate * 4;
    QByteArray data;
    data.reserve(frames * 4);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double swell = 0.15 + 0.85 * std::pow(std::sin(M_PI * t / 2.0), 2.0);
        const double chord = 0.45 * std::sin(2 * M_PI * 220 * t) + 0.25 * std::sin(2 * M_PI * 1250 * t)
            + 0.15 * std::sin(2 * M_PI * 4400 * t) + 0.1 * std::sin(2 * M_PI * 9000 * t);
        for (const double gain : { 1.0, 0.6 }) {
            const auto s = static_cast<qint16>(std::lrint(32767.0 * 0.9 * gain * swell * chord));
            data.append(char(s & 0xFF));
            data.append(char((s >> 8) & 0xFF));
        }
    }
    return WriteStereoWav(path, data);
}

bool WriteSilenceThenToneWav(const QString& path, double silenceSeconds, double toneSeconds)
{
    const int rate = 44100;
    const auto silent = static_cast<int>(silenceSeconds * rate);
    const auto frames = silent + static_cast<int>(toneSeconds * rate);
    QByteArray data(qsizetype(frames) * 4, '\0');
    for (int i = silent; i < frames; ++i) {
        const auto s = static_cast<qint16>(std::lrint(8000.0 * std::sin(2 * M_PI * 1000.0 * i / rate)));
        for (int c = 0; c < 2; ++c) {
            data[4 * i + 2 * c] = char(s & 0xFF);
            data[4 * i + 2 * c + 1] = char((s >> 8) & 0xFF);
        }
    }
    return WriteStereoWav(path, data);
}

std::map<QString, QString> ProgramEnvironment(
    const QString& display, const QString& runtime, const QString& wav)
{
    return {
        { QStringLiteral("DISPLAY"), display },
        { QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb") },
        { QStringLiteral("ZOVEVA_WAVEIN"), QStringLiteral("synthetic") },
        { QStringLiteral("ZOVEVA_WAVEIN_WAV"), wav },
        { QStringLiteral("ZOVEVA_ENCODER_DIR"), QString() },
        // An own runtime folder: no sound server of the machine running the tests shows here.
        { QStringLiteral("XDG_RUNTIME_DIR"), runtime },
        { QStringLiteral("PULSE_RUNTIME_PATH"), QString() },
        // The tray icon goes to the X notification area the test provides, not to a desktop bus.
        { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString() },
    };
}

double CpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which ends with the last ')': state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return -1;
    }
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

pid_t FirstChild(pid_t pid)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!children.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The account page's helper, while it reads the page, is a child too, and may come first.
    for (const QByteArray& child : children.readAll().trimmed().split(' ')) {
        if (const pid_t id = child.toInt(); id > 0 && ProcessName(id) != "zoveva-account") {
            return id;
        }
    }
    return -1;
}

std::vector<pid_t> ProcessTree(pid_t pid)
{
    std::vector<pid_t> tree { pid };
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(tree[i]);
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
            if (!children.open(QIODevice::ReadOnly)) {
                continue;
            }
            for (const QByteArray& child : children.readAll().split(' ')) {
                if (const pid_t id = child.trimmed().toInt(); id > 0) {
                    tree.push_back(id);
                }
            }
        }
    }
    return tree;
}

QByteArray ProcessName(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
}

int BrowserProcesses(pid_t program)
{
    // The descendants, and the rest of the program's process group: an engine process whose parent
    // ended is no one's descendant any more, but still in the group.
    std::vector<pid_t> pids = ProcessTree(program);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toInt() == program) {
            pids.push_back(entry.toInt());
        }
    }
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    int count = 0;
    for (const pid_t pid : pids) {
        const QByteArray name = ProcessName(pid);
        count += name == "zoveva-account" || name.startsWith("QtWebEngineProc");
    }
    return count;
}

MemoryUse Memory(pid_t pid)
{
    MemoryUse use;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly)) {
        return use;
    }
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "Rss:") {
            use.RssKiB = fields[1].toLongLong();
        } else if (fields.size() >= 2 && fields[0] == "Pss:") {
            use.PssKiB = fields[1].toLongLong();
        }
    }
    return use;
}

bool AppendSettings(const QString& folder, const QByteArray& lines, QString* error)
{
    QFile cfg(folder + QStringLiteral("/cfg.ini"));
    if (!cfg.open(QIODevice::Append) || cfg.write(lines) != lines.size()) {
        *error = QStringLiteral("cannot write %1").arg(cfg.fileName());
        return false;
    }
    return true;
}

bool AddBroadcastAttributes(
    const QString& folder, const QString& user, const QString& attributes, QString* error)
{
    QFile file(folder + QLatin1Char('/') + user + QStringLiteral(".xml"));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(file.fileName());
        return false;
    }
    QByteArray text = file.readAll();
    file.close();
    if (!text.contains("<Broadcast ")) {
        *error = QStringLiteral("%1 has no Broadcast element").arg(file.fileName());
        return false;
    }
    text.replace("<Broadcast ", "<Broadcast " + attributes.toUtf8() + ' ');
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        *error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    return true;
}

} // namespace zv::test
