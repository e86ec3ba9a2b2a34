// The streaming core against a real Icecast on loopback, fed by a tone generated in the test.
#include "IcecastServer.h"
#include "StreamCheck.h"
#include "ToneCapture.h"

#include "encoder/StreamingEncoder.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QThread>

#include <arpa/inet.h>
#include <cmath>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using zv::StreamingEncoder;
using zv::test::IcecastServer;
using zv::test::ToneCapture;

namespace {

// Run states as the listener saw them, with the reason that came with the last one.
class StateLog {
public:
    void Attach(StreamingEncoder& encoder)
    {
        encoder.SetStateListener([this](int state, const QString& reason) {
            std::lock_guard lock(mutex_);
            states_.push_back(state);
            if (!reason.isEmpty()) {
                reason_ = reason;
            }
        });
    }
    std::vector<int> States() const
    {
        std::lock_guard lock(mutex_);
        return states_;
    }
    QString Reason() const
    {
        std::lock_guard lock(mutex_);
        return reason_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> states_;
    QString reason_;
};

zv::EncoderSettings Settings(const IcecastServer& server, const QString& mount, int kbps = 64, int rate = 48000)
{
    zv::EncoderSettings settings;
    settings.title = QStringLiteral("Rádio de Teste");
    settings.inputSource = QStringLiteral("tom de teste");
    settings.host = server.Address();
    settings.port = server.Port();
    settings.mount = mount;
    settings.sourcePassword = server.Password();
    settings.kbps = kbps;
    settings.sampleRate = rate;
    return settings;
}

// Polls until the encoder reads `state` or `bound` passes; returns the time it took.
std::chrono::milliseconds WaitForState(const StreamingEncoder& encoder, int state, std::chrono::milliseconds bound)
{
    const auto start = std::chrono::steady_clock::now();
    while (encoder.RunState() != state && std::chrono::steady_clock::now() - start < bound) {
        std::this_thread::sleep_for(10ms);
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

class StreamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(server_.Start(&error)) << error.toStdString();
    }
    IcecastServer server_;
};

} // namespace

TEST_F(StreamingTest, PublishesEachProfileRowAsTheToneAListenerDecodes)
{
    const struct {
        int kbps;
        int rate;
    } rows[] = {{32, 32000}, {64, 48000}, {96, 48000}, {128, 48000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kbps);
        const QString mount = QStringLiteral("/perfil%1").arg(row.kbps);
        StreamingEncoder encoder(Settings(server_, mount, row.kbps, row.rate), std::make_unique<ToneCapture>());
        StateLog log;
        log.Attach(encoder);
        encoder.Start();
        WaitForState(encoder, zv::kStateRunning, 5s);
        ASSERT_EQ(encoder.RunState(), zv::kStateRunning) << encoder.LastError().toStdString();
        ASSERT_TRUE(server_.WaitForSource(mount, 5)) << QJsonDocument(server_.Status()).toJson().toStdString();

        const auto decoded = zv::test::Decode(server_.Listen(mount, 3));
        ASSERT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
        EXPECT_EQ(decoded.codec, QStringLiteral("mp3"));
        EXPECT_EQ(decoded.sampleRate, row.rate);
        EXPECT_EQ(decoded.bitRate, row.kbps * 1000);
        EXPECT_GT(decoded.seconds, 1.5);
        EXPECT_NEAR(decoded.frequency, 1000, 15);

        encoder.RequestStop();
        WaitForState(encoder, zv::kStateStopped, 5s);
        EXPECT_TRUE(encoder.Finish(1s));
        EXPECT_EQ(log.States(), (std::vector<int> {1, 2, 4, 5}));
        EXPECT_TRUE(encoder.LastError().isEmpty()) << encoder.LastError().toStdString();
    }
}

// Bounds: nothing listening ends the start at once (under 2 s here); a server killed while
// publishing is noticed with the next send (under 2 s).
TEST_F(StreamingTest, EndsInStateFiveWhenTheServerIsAbsentOrDies)
{
    {
        auto settings = Settings(server_, QStringLiteral("/ausente"));
        settings.port = IcecastServer::FreePort(server_.Address());
        StreamingEncoder encoder(settings, std::make_unique<ToneCapture>());
        StateLog log;
        log.Attach(encoder);
        encoder.Start();
        EXPECT_LT(WaitForState(encoder, zv::kStateStopped, 10s), 2s);
        EXPECT_EQ(log.States(), (std::vector<int> {1, 5}));
        EXPECT_TRUE(encoder.LastError().contains(QStringLiteral("Cannot connect"))) << encoder.LastError().toStdString();
    }
    {
        StreamingEncoder encoder(Settings(server_, QStringLiteral("/morre")), std::make_unique<ToneCapture>());
        encoder.Start();
        WaitForState(encoder, zv::kStateRunning, 5s);
        ASSERT_EQ(encoder.RunState(), zv::kStateRunning) << encoder.LastError().toStdString();
        std::this_thread::sleep_for(1s);
        server_.Kill();
        EXPECT_LT(WaitForState(encoder, zv::kStateStopped, 10s), 2s);
        EXPECT_TRUE(encoder.LastError().contains(QStringLiteral("Lost the connection"))) << encoder.LastError().toStdString();
    }
}

TEST_F(StreamingTest, ARefusedSourceEndsInStateFiveWithAReadableReason)
{
    auto wrong = Settings(server_, QStringLiteral("/senha"));
    wrong.sourcePassword = QStringLiteral("errada");
    StreamingEncoder refused(wrong, std::make_unique<ToneCapture>());
    refused.Start();
    EXPECT_LT(WaitForState(refused, zv::kStateStopped, 10s), 2s);
    EXPECT_TRUE(refused.LastError().contains(QStringLiteral("refused the source"))) << refused.LastError().toStdString();
    EXPECT_TRUE(refused.LastError().contains(QStringLiteral("/senha")));

    StreamingEncoder first(Settings(server_, QStringLiteral("/ocupado")), std::make_unique<ToneCapture>());
    first.Start();
    WaitForState(first, zv::kStateRunning, 5s);
    ASSERT_EQ(first.RunState(), zv::kStateRunning);
    StreamingEncoder second(Settings(server_, QStringLiteral("/ocupado")), std::make_unique<ToneCapture>());
    second.Start();
    EXPECT_LT(WaitForState(second, zv::kStateStopped, 10s), 2s);
    EXPECT_TRUE(second.LastError().contains(QStringLiteral("already in use"))) << second.LastError().toStdString();
    EXPECT_EQ(first.RunState(), zv::kStateRunning);
}

// A server that takes the connection and never answers must not hold the encoder in state 1: the
// connect bound (10 s) ends it.
TEST_F(StreamingTest, AServerThatNeverAnswersIsGivenUpAfterTheConnectBound)
{
    // Accepted by the kernel's backlog, never answered.
    const int mute = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in in {};
    in.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &in.sin_addr);
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
    ASSERT_EQ(listen(mute, 4), 0);
    socklen_t length = sizeof in;
    getsockname(mute, reinterpret_cast<sockaddr*>(&in), &length);
    auto silent = Settings(server_, QStringLiteral("/mudo"));
    silent.port = ntohs(in.sin_port);
    StreamingEncoder waiting(silent, std::make_unique<ToneCapture>());
    waiting.Start();
    const auto connectTime = WaitForState(waiting, zv::kStateStopped, 20s);
    EXPECT_GE(connectTime, 9s);
    EXPECT_LT(connectTime, 12s);
    EXPECT_TRUE(waiting.LastError().contains(QStringLiteral("did not accept the source"))) << waiting.LastError().toStdString();
    close(mute);
}
