// The account page's cost in memory and in waiting: ZoVeva on a private X server, on the air through
// the real encoder to a private Icecast, with the network's account page (tests/e2e/account-server.py,
// given to the browser as its proxy). The memory of every process of the station (the client, the
// encoder, the account page's helper and the browser engine's processes under it) is summed, RSS and
// PSS, with the settings window closed once the page's limit was read, and again with the page shown
// in the information mode. The time of a repetition is the one from the information button's click to
// the page drawn in the settings window's panel.
#ifdef ZOVEVA_BENCH_PROGRAM

#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "XSession.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <memory>

namespace {

using namespace zv::test;

bool WaitFor(double seconds, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return done();
        }
        QThread::msleep(20);
    }
    return true;
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct StationMemory {
    MemoryUse All; // every process of the station
    MemoryUse Client; // ZoVeva alone
    int Browser = 0; // the helper and the engine's processes
};

StationMemory Sample(pid_t client)
{
    StationMemory memory;
    for (const pid_t pid : ProcessTree(client)) {
        const MemoryUse use = Memory(pid);
        memory.All.RssKiB += use.RssKiB;
        memory.All.PssKiB += use.PssKiB;
    }
    memory.Client = Memory(client);
    memory.Browser = BrowserProcesses(client);
    return memory;
}

// One station with its account page for the whole benchmark run.
struct AccountStation {
    XSession X;
    IcecastServer Icecast;
    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    QTemporaryDir Server;
    std::unique_ptr<Process> AccountServer;
    std::unique_ptr<Process> Program;
    XSession::Window Window;
    QString Error;

    AccountStation()
    {
        if (!X.Start(&Error) || !Icecast.Start(&Error)
            || !MakeProgramFolder(Folder.path(), Icecast.Port(), Icecast.Password(), &Error)
            || !WriteUserSettings(Folder.path(), QStringLiteral("bench"), 0, &Error)) {
            return;
        }
        // The account page "http://info." + Servidor needs a name the browser takes: the network
        // zoveva.localhost, its publish server ns1.zoveva.localhost (loopback for the encoder).
        const QString cfg = Folder.filePath(QStringLiteral("cfg.ini"));
        QByteArray settings = ReadBytes(cfg);
        settings.replace("Servidor=0.0.1\r\n", "Servidor=zoveva.localhost\r\n")
            .replace("ServerDefault=127\r\n", "ServerDefault=ns1\r\n");
        if (!WriteBytes(cfg, settings)
            || !WriteBytes(Server.filePath(QStringLiteral("accounts")), "bench\tdemo\n")) {
            Error = QStringLiteral("cannot write the settings");
            return;
        }
        const QString port = Server.filePath(QStringLiteral("port"));
        AccountServer = std::make_unique<Process>(
            QStringList { SourceDir() + QStringLiteral("/tests/e2e/account-server.py"),
                QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--ready"), port,
                QStringLiteral("--accounts"), Server.filePath(QStringLiteral("accounts")),
                QStringLiteral("--limit"), QStringLiteral("96") },
            std::map<QString, QString> {});
        if (!WaitFor(10, [&] { return !ReadBytes(port).isEmpty(); })) {
            Error = QStringLiteral("the account server did not start");
            return;
        }
        auto environment = ProgramEnvironment(X.DisplayName(), Runtime.path());
        environment[QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")]
            = QStringLiteral("--proxy-server=http://127.0.0.1:%1 --proxy-bypass-list=<-loopback>")
                  .arg(QString::fromLatin1(ReadBytes(port).trimmed()));
        Program = std::make_unique<Process>(
            QStringList { Folder.filePath(QStringLiteral("ZoVeva")) }, environment);
        if (!X.WaitForWindow(QStringLiteral("Varek R\u00e1dio Zoveva"), QSize(327, 318), 20, &Window)) {
            Error = QStringLiteral("the main window did not appear");
            return;
        }
        // The page's 96 replaces the settings' 64: the limit was read.
        if (!WaitFor(60, [&] { return ReadBytes(cfg).contains("Kbps=96000\r\n"); })
            || !Icecast.WaitForSource(QStringLiteral("/bench"), 30)) {
            Error = QStringLiteral("the station did not go on the air at the page's limit: %1")
                        .arg(ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))));
        }
    }

    // The account page's green heading in the settings window's panel.
    bool PageShows(const QRect& panel)
    {
        const QImage shot = X.Grab(panel);
        int green = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb c = shot.pixel(x, y);
                green += qGreen(c) > 200 && qRed(c) < 90 && qBlue(c) < 90;
            }
        }
        return green > 20;
    }

    static AccountStation& Get()
    {
        static AccountStation station;
        return station;
    }
};

void BM_AccountPageMemory(benchmark::State& state)
{
    AccountStation& station = AccountStation::Get();
    if (!station.Error.isEmpty()) {
        state.SkipWithError(station.Error.toStdString().c_str());
        return;
    }
    const pid_t client = station.Program->Pid();
    const QString title = QStringLiteral("Configura\u00e7\u00f5es");
    StationMemory closed;
    StationMemory open;
    for (auto _ : state) {
        // Closed: nothing of the browser left; the memory settles a moment after its processes end.
        if (!WaitFor(30, [&] { return Sample(client).Browser == 0; })) {
            state.SkipWithError("browser processes stay while the page is not shown");
            return;
        }
        QThread::sleep(2);
        closed = Sample(client);

        station.X.Click(station.Window.geometry.topLeft() + QPoint(36 + 12, 255 + 12));
        const auto clicked = std::chrono::steady_clock::now();
        XSession::Window settings;
        if (!station.X.WaitForWindow(title, QSize(300, 414), 10, &settings) || !WaitFor(30, [&] {
                return station.PageShows(QRect(34, 32, 232, 305).translated(settings.geometry.topLeft()));
            })) {
            state.SkipWithError("the account page did not show");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count());
        QThread::sleep(3);
        open = Sample(client);

        station.X.Click(settings.geometry.topLeft() + QPoint(34 + 79 + 37, 32 + 312 + 13));
        XSession::Window shown;
        WaitFor(10, [&] { return !station.X.WaitForWindow(title, QSize(300, 414), 0, &shown); });
    }
    const auto mb = [](qint64 kib) { return double(kib) / 1024; };
    state.counters["closed_pss_mb"] = mb(closed.All.PssKiB);
    state.counters["closed_rss_mb"] = mb(closed.All.RssKiB);
    state.counters["closed_client_rss_mb"] = mb(closed.Client.RssKiB);
    state.counters["closed_browser_processes"] = closed.Browser;
    state.counters["open_pss_mb"] = mb(open.All.PssKiB);
    state.counters["open_rss_mb"] = mb(open.All.RssKiB);
    state.counters["open_client_rss_mb"] = mb(open.Client.RssKiB);
    state.counters["open_browser_processes"] = open.Browser;
}

BENCHMARK(BM_AccountPageMemory)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

#endif
