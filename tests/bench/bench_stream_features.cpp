// What the stream's extras cost in processor time: two stations on the air side by side, each ZoVeva
// on a private X server with its window in the tray, capturing the synthetic 1 kHz tone, through its
// real encoder to a private Icecast on loopback. One has every extra off: plain connection, no
// now-playing file, the dead-air alarm off. The other has them all on: TLS with the certificate
// verified, a now-playing file rewritten once per measurement (a song every few seconds, far more
// often than a playout does), the dead-air alarm, and a listener whose count the details show. Both
// are measured over the same 10 s, so the machine's load falls on both alike; the status poll asks
// for the stream's details in both (it cannot be switched off).
// Counters: each process's share of one core in percent, and the extra of the station with them on.
// BM_StreamDetailsRequest times the one request the status poll adds every second, through the
// client's proxy to a real encoder on the air.
#ifdef ZOVEVA_BENCH_PROGRAM

#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "ProxyDriver.h"
#include "XSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace zv::test;

const QString kUser = QStringLiteral("extras");

// Processor time of a process's live threads in seconds, from the scheduler's nanosecond counts (the
// clock ticks of /proc/PID/stat are too coarse for the differences measured here).
double SchedulerCpuSeconds(pid_t pid)
{
    if (pid <= 0) {
        return -1;
    }
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly)) {
            total += file.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return total;
}

struct FeatureStation {
    XSession X;
    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    std::unique_ptr<TestCertificates> Certificates;
    std::unique_ptr<IcecastServer> Icecast;
    std::unique_ptr<Process> Program;
    pid_t Listener = -1;
    QString Error;

    explicit FeatureStation(bool extras)
    {
        IcecastServer::Config config;
        if (extras) {
            Certificates = std::make_unique<TestCertificates>(Folder.path());
            const QString pem = Certificates->MakeAuthority(QStringLiteral("ca"), &Error)
                ? Certificates->MakeServer(
                    QStringLiteral("servidor"), QStringLiteral("IP:127.0.0.1"), QStringLiteral("ca"), &Error)
                : QString();
            if (pem.isEmpty()) {
                return;
            }
            config.tlsCertificate = pem;
        }
        Icecast = std::make_unique<IcecastServer>(config);
        if (!X.Start(&Error) || !Icecast->Start(&Error)
            || !MakeProgramFolder(Folder.path(), Icecast->Port(), Icecast->Password(), &Error)
            || !WriteUserSettings(Folder.path(), kUser, 0, &Error)) {
            return;
        }
        if (extras) {
            WriteTitle(0);
            if (!AddBroadcastAttributes(Folder.path(), kUser,
                    QStringLiteral(R"(Tls="1" TlsCaFile="%1" NowPlayingFile="%2")")
                        .arg(Certificates->Authority(QStringLiteral("ca")), TitleFile()),
                    &Error)) {
                return;
            }
        } else if (!AppendSettings(Folder.path(), "SilencioAlarme=0\r\n", &Error)) {
            return;
        }
        Program = std::make_unique<Process>(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) },
            ProgramEnvironment(X.DisplayName(), Runtime.path()));
        XSession::Window window;
        if (!X.WaitForWindow(QStringLiteral("Varek R\u00e1dio Zoveva"), QSize(327, 318), 20, &window)) {
            Error = QStringLiteral("the main window did not appear");
            return;
        }
        if (!Icecast->WaitForSource(QLatin1Char('/') + kUser, 30)) {
            Error = QStringLiteral("the program did not go on the air: %1")
                        .arg(ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))));
            return;
        }
        // To the tray, as the program runs all day: the displays then draw nothing.
        X.Click(window.geometry.topLeft() + QPoint(288 + 12, 92 + 12));
        if (extras) {
            const QByteArray url = Icecast->Url(QLatin1Char('/') + kUser).toLocal8Bit();
            char program[] = "curl";
            char quiet[] = "-s";
            char insecure[] = "-k";
            char output[] = "-o";
            char nowhere[] = "/dev/null";
            char* argv[]
                = { program, quiet, insecure, output, nowhere, const_cast<char*>(url.constData()), nullptr };
            if (posix_spawnp(&Listener, "curl", nullptr, nullptr, argv, environ) != 0) {
                Listener = -1;
            }
        }
    }

    ~FeatureStation()
    {
        if (Listener > 0) {
            kill(Listener, SIGTERM);
            waitpid(Listener, nullptr, 0);
        }
    }

    QString TitleFile() const { return Folder.filePath(QStringLiteral("tocando.txt")); }

    void WriteTitle(int n) const
    {
        QFile file(TitleFile());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(QStringLiteral("Artista %1 - Can\u00e7\u00e3o %1\n").arg(n).toUtf8());
        }
    }

    pid_t Client() const { return Program ? Program->Pid() : -1; }
};

void BM_StreamExtrasCpu(benchmark::State& state)
{
    static FeatureStation off(false);
    static FeatureStation on(true);
    for (const FeatureStation* station : { &off, &on }) {
        if (!station->Error.isEmpty()) {
            state.SkipWithError(station->Error.toStdString().c_str());
            return;
        }
    }
    QThread::msleep(3000);
    const pid_t clients[2] = { off.Client(), on.Client() };
    const pid_t encoders[2] = { FirstChild(clients[0]), FirstChild(clients[1]) };
    double client[2] = {};
    double encoder[2] = {};
    static int title = 0;
    for (auto _ : state) {
        double client0[2];
        double encoder0[2];
        for (int i = 0; i < 2; ++i) {
            client0[i] = SchedulerCpuSeconds(clients[i]);
            encoder0[i] = SchedulerCpuSeconds(encoders[i]);
        }
        const auto start = std::chrono::steady_clock::now();
        QThread::msleep(5000);
        on.WriteTitle(++title);
        QThread::msleep(5000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (int i = 0; i < 2; ++i) {
            client[i] = (SchedulerCpuSeconds(clients[i]) - client0[i]) / wall;
            encoder[i] = (SchedulerCpuSeconds(encoders[i]) - encoder0[i]) / wall;
        }
        state.SetIterationTime(wall);
    }
    state.counters["client_off_percent"] = 100 * client[0];
    state.counters["client_on_percent"] = 100 * client[1];
    state.counters["client_extra_percent"] = 100 * (client[1] - client[0]);
    state.counters["encoder_off_percent"] = 100 * encoder[0];
    state.counters["encoder_on_percent"] = 100 * encoder[1];
    state.counters["encoder_extra_percent"] = 100 * (encoder[1] - encoder[0]);
}

// One StreamDetails request and its answer, as the status poll makes it once a second.
void BM_StreamDetailsRequest(benchmark::State& state)
{
    QTemporaryDir folder;
    IcecastServer icecast;
    QString error;
    if (!icecast.Start(&error)) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    qputenv("ZOVEVA_WAVEIN", "synthetic");
    zv::EncoderProcessOptions options;
    options.executable = (zv::test::BinDir() + QStringLiteral("/zoveva-encoder")).toStdString();
    options.logFile = folder.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    const QString file
        = WriteEncodingFile(folder.path(), QStringLiteral("detalhes"), QStringLiteral("Synthetic tone 1 kHz"),
            QStringLiteral("%1:%2").arg(icecast.Address()).arg(icecast.Port()), icecast.Password(), 32000);
    const std::shared_ptr<IEncoderApp> app = StartEncoder(options, file);
    Until(*app, EncoderRunState::Running, std::chrono::seconds(10));
    if (State(*app) != EncoderRunState::Running) {
        state.SkipWithError("the encoder did not go on the air");
        return;
    }
    const std::shared_ptr<IEncoder> encoder = Encoder(*app);
    TStreamDetails details;
    for (auto _ : state) {
        CheckResult(encoder->GetStreamDetails(details), "details");
        benchmark::DoNotOptimize(details);
    }
    state.counters["on_air"] = details.OnAir ? 1 : 0;
}

BENCHMARK(BM_StreamDetailsRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreamExtrasCpu)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kSecond);

} // namespace

#endif
