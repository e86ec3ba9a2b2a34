// The client's supervision over real encoder processes and real Icecast mirrors, in real time:
// fail-over from ns1 (down) to ns2, then a restart on ns2 after it was killed and came back. Runs
// inside the namespace of tests/e2e/netns-run.sh, where ns1/ns2.zoveva.test are 127.0.0.2/.3.
#include "IcecastServer.h"
#include "StreamCheck.h"
#include "platform/Clock.h"
#include "station/EncoderProcess.h"
#include "station/Messages.h"
#include "station/StationController.h"
#include "tests/support/StationDoubles.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cstdio>
#include <gtest/gtest.h>
#include <netdb.h>

using namespace std::chrono_literals;
using zv::test::IcecastServer;

namespace {

bool ResolvesTo(const char* name, const char* address)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return std::strcmp(text, address) == 0;
}

struct Window final : IStationWindow {
    QString status;
    QString Caption(const QString& labelName) const override { return BuiltInCaption(labelName); }
    void SetStatus(const QString& text, TRgb) override { status = text; }
    void ShowSettingsModal() override { }
    void RequestTermination() override { }
    void ProcessPendingEvents() override { QCoreApplication::processEvents(); }
};

// Runs the event loop until the condition holds or the bound passes; the seconds it took.
template <typename Condition> double RunUntil(Condition condition, std::chrono::seconds bound)
{
    QElapsedTimer timer;
    timer.start();
    zv::test::PumpUntil(condition, bound);
    return timer.elapsed() / 1000.0;
}

} // namespace

TEST(Supervision, FailsOverToTheSecondMirrorAndRestartsWhenTheServerReturns)
{
    if (!ResolvesTo("ns1.zoveva.test", "127.0.0.2") || !ResolvesTo("ns2.zoveva.test", "127.0.0.3")) {
        GTEST_SKIP() << "needs the test domain's names: run through tests/e2e/netns-run.sh";
    }
    static int argc = 1;
    static char name[] = "zoveva-e2e-encoder-supervision";
    static char* argv[] = { name, nullptr };
    QCoreApplication app(argc, argv);

    // The program folder: the installed template, the settings, the user's first encoding file.
    QTemporaryDir folder;
    const QString bin = qEnvironmentVariable("ZOVEVA_BIN_DIR");
    ASSERT_TRUE(
        QFile::copy(bin + QStringLiteral("/padrao.xml"), folder.filePath(QStringLiteral("padrao.xml"))));
    ASSERT_TRUE(
        QFile::copy(bin + QStringLiteral("/padrao.xml"), folder.filePath(QStringLiteral("radio1.xml"))));
    QFile config(folder.filePath(QStringLiteral("cfg.ini")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(
        "[Geral]\r\nUsuario=radio1\r\nRadio=Radio de Ensaio\r\nKbps=32000\r\nServidor=zoveva.test\r\n"
        "ServerDefault=ns1\r\n");
    config.close();
    QFile templ(folder.filePath(QStringLiteral("padrao.xml")));
    ASSERT_TRUE(templ.open(QIODevice::ReadOnly));
    QDomDocument document;
    ASSERT_TRUE(document.setContent(&templ));
    const QDomElement broadcast = document.documentElement().firstChildElement(QStringLiteral("Broadcast"));
    IcecastServer::Config mirror;
    mirror.port = static_cast<quint16>(broadcast.attribute(QStringLiteral("PublishPort")).toUInt());
    mirror.sourcePassword = broadcast.attribute(QStringLiteral("SourcePassword"));
    mirror.address = QStringLiteral("127.0.0.3");
    IcecastServer ns2(mirror); // ns1 (127.0.0.2) stays down
    QString error;
    ASSERT_TRUE(ns2.Start(&error)) << error.toStdString();

    qputenv("ZOVEVA_ENCODER_DIR", bin.toLocal8Bit());
    zv::EncoderProcessOptions options = zv::DefaultEncoderProcessOptions();
    options.logFile = folder.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    const auto log = [&] {
        QFile file(QString::fromStdString(options.logFile.string()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    zv::TEncoderProcessFactory factory(options);

    // 0. A mirror name that does not resolve is reported as such, not as a refused connection.
    {
        QFile unknown(folder.filePath(QStringLiteral("radio1.xml")));
        ASSERT_TRUE(unknown.open(QIODevice::ReadOnly));
        QByteArray content = unknown.readAll();
        unknown.close();
        content.replace("PublishingPoint=\"\"", "PublishingPoint=\"radio1\"")
            .replace("InputSource=\"\"", "InputSource=\"Synthetic tone 1 kHz\"")
            .replace("ns1.varekradio.net.br", "ns9.zoveva.test");
        QFile probe(folder.filePath(QStringLiteral("sem-nome.xml")));
        ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
        probe.write(content);
        probe.close();
        std::shared_ptr<IEncoderApp> encoderApp;
        CheckResult(factory.Create(encoderApp), "create");
        std::shared_ptr<IEncoder> encoder;
        CheckResult(encoderApp->GetEncoder(encoder), "get encoder");
        CheckResult(encoder->Load(probe.fileName()), "load");
        CheckResult(encoder->Start(), "start");
        std::int32_t state = 0;
        RunUntil(
            [&] { return Succeeded(encoder->GetRunState(state)) && state == EncoderRunState::Stopped; }, 15s);
        EXPECT_EQ(state, EncoderRunState::Stopped);
        EXPECT_TRUE(log().contains(QStringLiteral("Cannot find the server \"ns9.zoveva.test\"")))
            << log().toStdString();
    }
    zv::QtClock clock;
    zv::test::RecordedBoxes boxes;
    Window window;
    zv::test::FixedFields fields; // the test station's
    auto station
        = std::make_unique<TStationController>(folder.path().toStdString(), clock, factory, boxes, window);
    station->SetSettingsFields(&fields);
    station->Create();

    // 1. ns1 is down: starts there, stops, restarts every 10 s, and after 60 s fails over to ns2.
    bool sawStoppedOnNs1 = false;
    const double failOver = RunUntil(
        [&] {
            sawStoppedOnNs1 = sawStoppedOnNs1
                || (station->RunState() == EncoderRunState::Stopped
                    && station->CurrentServer() == QStringLiteral("ns1.zoveva.test"));
            return station->RunState() == EncoderRunState::Running;
        },
        100s);
    std::printf("publishing on %s after %.1f s\n", qPrintable(station->CurrentServer()), failOver);
    ASSERT_EQ(station->RunState(), EncoderRunState::Running) << log().toStdString();
    EXPECT_TRUE(sawStoppedOnNs1);
    EXPECT_EQ(station->CurrentServer(), QStringLiteral("ns2.zoveva.test"));
    EXPECT_GE(failOver, 55.0);
    EXPECT_EQ(window.status, BuiltInCaption(QStringLiteral("lblConectado")));
    EXPECT_GE(log().count(QStringLiteral("Cannot connect to the server")), 5) << log().toStdString();
    ASSERT_TRUE(ns2.WaitForSource(QStringLiteral("/radio1"), 5));
    const auto decoded = zv::test::Decode(ns2.Listen(QStringLiteral("/radio1"), 3));
    EXPECT_NEAR(decoded.frequency, 1000, 15) << decoded.error.toStdString();
    EXPECT_EQ(decoded.bitRate, 32000);

    // 2. ns2 dies: the poll reads 5 within a second or two; it comes back 15 s later and the next
    //    restart (every 10 s) publishes again, still on ns2.
    ns2.Kill();
    const double noticed = RunUntil([&] { return station->RunState() == EncoderRunState::Stopped; }, 10s);
    std::printf("lost server noticed after %.1f s\n", noticed);
    EXPECT_LE(noticed, 3.0);
    // While it is down, restarts come and go (a check may well land on one still starting), but
    // none of them may report publishing.
    const int refusedBefore = static_cast<int>(log().count(QStringLiteral("Cannot connect to the server")));
    bool publishedWhileDown = false;
    RunUntil(
        [&] {
            publishedWhileDown = publishedWhileDown || station->RunState() == EncoderRunState::Running;
            return false;
        },
        15s);
    EXPECT_FALSE(publishedWhileDown) << log().toStdString();
    EXPECT_GE(log().count(QStringLiteral("Cannot connect to the server")), refusedBefore + 1)
        << log().toStdString();
    ASSERT_TRUE(ns2.Start(&error)) << error.toStdString();
    const double back = RunUntil([&] { return station->RunState() == EncoderRunState::Running; }, 20s);
    std::printf("publishing again %.1f s after the server came back\n", back);
    EXPECT_EQ(station->RunState(), EncoderRunState::Running) << log().toStdString();
    EXPECT_LE(back, 12.0);
    EXPECT_EQ(station->CurrentServer(), QStringLiteral("ns2.zoveva.test"));
    EXPECT_TRUE(ns2.WaitForSource(QStringLiteral("/radio1"), 5));

    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().toStdString();
    EXPECT_TRUE(station->CloseStep());
    station.reset();
}
