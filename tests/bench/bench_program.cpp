// The running program's processor use: ZoVeva on a private X server (Xvfb), capturing the synthetic
// 1 kHz tone (44100 Hz, 16-bit stereo) and on the air through the real encoder to a private Icecast
// on loopback, each display brought to the front in turn with the display button. Each repetition
// counts the processor time the client process (all its threads) and, apart, its encoder process
// used over 5 s of wall time: cpu_percent is the client's share of one core.
#ifdef ZOVEVA_BENCH_PROGRAM

#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "XSession.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <unistd.h>

namespace {

using namespace zv::test;

// One program on the air for the whole benchmark run.
struct Station {
    XSession X;
    IcecastServer Icecast;
    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    std::unique_ptr<Process> Program;
    XSession::Window Window;
    int View = 0; // 0 spectrum, 1 oscilloscope, 2 level bars, 3 needle meters
    QString Error;

    Station()
    {
        if (!X.Start(&Error) || !Icecast.Start(&Error)
            || !MakeProgramFolder(Folder.path(), Icecast.Port(), Icecast.Password(), &Error)
            || !WriteUserSettings(Folder.path(), QStringLiteral("bench"), 0, &Error)) {
            return;
        }
        Program = std::make_unique<Process>(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) },
            ProgramEnvironment(X.DisplayName(), Runtime.path()));
        if (!X.WaitForWindow(QStringLiteral("Varek R\u00e1dio Zoveva"), QSize(327, 318), 20, &Window)) {
            Error = QStringLiteral("the main window did not appear");
            return;
        }
        if (!Icecast.WaitForSource(QStringLiteral("/bench"), 30)) {
            Error = QStringLiteral("the program did not go on the air: %1")
                        .arg(ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))));
        }
    }

    void Show(int view)
    {
        while (View != view) {
            X.Click(Window.geometry.topLeft() + QPoint(20 + 12, 236 + 11));
            View = (View + 1) % 4;
            QThread::msleep(300);
        }
    }

    static Station& Get()
    {
        static Station station;
        return station;
    }
};

void BM_ProgramCpu(benchmark::State& state, int view)
{
    Station& station = Station::Get();
    if (!station.Error.isEmpty()) {
        state.SkipWithError(station.Error.toStdString().c_str());
        return;
    }
    station.Show(view);
    QThread::msleep(1500);
    const pid_t client = station.Program->Pid();
    const pid_t encoder = FirstChild(client);
    double clientShare = 0;
    double encoderShare = 0;
    for (auto _ : state) {
        const double client0 = CpuSeconds(client);
        const double encoder0 = CpuSeconds(encoder);
        const auto start = std::chrono::steady_clock::now();
        QThread::sleep(5);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        clientShare = (CpuSeconds(client) - client0) / wall;
        encoderShare = (CpuSeconds(encoder) - encoder0) / wall;
        state.SetIterationTime(wall);
    }
    state.counters["cpu_percent"] = 100 * clientShare;
    state.counters["encoder_cpu_percent"] = 100 * encoderShare;
}

BENCHMARK_CAPTURE(BM_ProgramCpu, spectrum, 0)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_ProgramCpu, oscilloscope, 1)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_ProgramCpu, level_bars, 2)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_ProgramCpu, needle_meters, 3)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond);

} // namespace

#endif
