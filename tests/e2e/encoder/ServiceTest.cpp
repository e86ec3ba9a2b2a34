// The encoder's service loop (as the process runs it) against a real Icecast that freezes.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "ToneCapture.h"

#include "encoder/EncoderService.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "zoveva-e2e-encoder-service";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::chrono::milliseconds RunUntilState(const zv::EncoderService& service, int state, std::chrono::milliseconds bound)
{
    const auto start = std::chrono::steady_clock::now();
    while (service.RunState() != state && std::chrono::steady_clock::now() - start < bound) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

} // namespace

// A frozen server keeps taking bytes into its kernel buffers; the status probe (every 10 s, 10 s to
// answer) ends the stream within 20 s, at the lowest bitrate too.
TEST(EncoderService, GivesUpAServerThatStopsAnswering)
{
    App();
    zv::test::IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    QTemporaryDir dir;
    const QString file = zv::test::WriteEncodingFile(dir.path(), QStringLiteral("congelado"), QStringLiteral("tom"),
        QStringLiteral("%1:%2").arg(server.Address()).arg(server.Port()), server.Password(), 32000);

    zv::EncoderService service([](const QString&) { return std::make_unique<zv::test::ToneCapture>(); });
    QString reason;
    QObject::connect(&service, &zv::EncoderService::stateChanged, [&](int, const QString& why) {
        if (!why.isEmpty()) {
            reason = why;
        }
    });
    service.Load(file);
    service.Start();
    RunUntilState(service, zv::kStateRunning, 5s);
    ASSERT_EQ(service.RunState(), zv::kStateRunning) << service.LastError().toStdString();
    RunUntilState(service, -1, 2s); // let a probe or two pass while the server is well

    server.Freeze();
    const auto took = RunUntilState(service, zv::kStateStopped, 40s);
    server.Thaw();
    std::printf("frozen server given up after %.1f s\n", took.count() / 1000.0);
    EXPECT_EQ(service.RunState(), zv::kStateStopped);
    EXPECT_LE(took, 21s);
    EXPECT_TRUE(service.LastError().contains(QStringLiteral("stopped answering"))) << service.LastError().toStdString();
    RunUntilState(service, -1, 200ms);
    EXPECT_EQ(reason, service.LastError());
    EXPECT_TRUE(service.Shutdown(1s));
}
