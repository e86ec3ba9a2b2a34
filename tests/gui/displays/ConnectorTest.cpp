#include "audio/MMConect.h"
#include "audio/MMWavIn.h"
#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MMOscope.h"
#include "displays/MMSpectr.h"
#include "platform/WaveIn.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A display that records what the connector hands it.
class Recorder : public IMMDisplay {
public:
    explicit Recorder(int bytes)
        : bytes(bytes)
    {
    }
    ~Recorder() override = default;
    void SetPCMFormat(const TWaveFormatEx* format) override
    {
        formats.push_back(format ? *format : TWaveFormatEx {});
    }
    int BytesNeeded() const override { return bytes; }
    void ProcessData(const void* data) override { blocks.push_back(static_cast<const std::uint8_t*>(data)); }
    void ResetData() override { ++resets; }

    int bytes;
    std::vector<TWaveFormatEx> formats;
    std::vector<const std::uint8_t*> blocks;
    int resets = 0;
};

std::int64_t gNow = 0;
std::int64_t FakeNow()
{
    return gNow;
}

// A started connector on 16-bit stereo at 44100 Hz with 4096-byte buffers, delivering only when
// the test calls Deliver, at the test's own microsecond clock.
class Connector : public ::testing::Test {
protected:
    void SetUp() override
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        TMMConnector::SetClock(&FakeNow);
        gNow = 1'000'000;
        Make();
        Fill(0);
    }
    void Make()
    {
        connector = std::make_unique<TMMConnector>();
        connector->SetAutoTrigger(false);
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        connector->SetWaveFormat(&format);
        connector->SetBufferSize(4096);
    }
    // The next buffer's bytes: byte i is (i + first) mod 256.
    void Fill(int first)
    {
        buffer.resize(4096);
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = static_cast<std::uint8_t>(static_cast<int>(i) + first);
    }
    void TearDown() override
    {
        connector.reset();
        TMMConnector::SetClock(nullptr);
    }
    void Start()
    {
        connector->ChainOpen();
        connector->ChainStart();
        QApplication::processEvents(); // the start message takes it on
        ASSERT_TRUE(connector->IsRunning());
    }
    void Arrive() { connector->TakeData(buffer.data(), static_cast<int>(buffer.size())); }
    std::unique_ptr<TMMConnector> connector;
    std::vector<std::uint8_t> buffer;
};

TEST_F(Connector, LevelBlocksArriveAtTheirMomentInTheBuffer)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    ASSERT_EQ(level.formats.size(), 1u);
    EXPECT_EQ(level.formats[0].nChannels, 2);
    Start();
    Arrive();
    connector->Deliver();
    connector->Deliver();
    ASSERT_EQ(level.blocks.size(), 1u) << "the block at 396 is not due yet";
    gNow += 2243;
    connector->Deliver();
    EXPECT_EQ(level.blocks.size(), 1u);
    gNow += 1; // 2244 us = 396 bytes at 176400 bytes per second
    connector->Deliver();
    ASSERT_EQ(level.blocks.size(), 2u);
    gNow += 1'000'000;
    for (int i = 0; i < 20; ++i)
        connector->Deliver();
    ASSERT_EQ(level.blocks.size(), 10u) << "the block at 3960 would end past 4096";
    EXPECT_FALSE(connector->Due(TMMConnector::fLevel));
    const std::uint8_t* base = level.blocks[0];
    for (std::size_t i = 0; i < level.blocks.size(); ++i) {
        EXPECT_EQ(level.blocks[i] - base, static_cast<std::ptrdiff_t>(396 * i));
        EXPECT_EQ(level.blocks[i][0], static_cast<std::uint8_t>(396 * i)) << "the buffer's own bytes";
    }
    EXPECT_EQ(connector->Delivered(TMMConnector::fLevel), 10);
}

TEST_F(Connector, EachPassDeliversOneBlockPerFamilyAndANewBufferStartsOver)
{
    Recorder meter(80);
    Recorder level(396);
    connector->SetMeter1(&meter);
    connector->SetLevel2(&level);
    Start();
    Arrive();
    gNow += 1'000'000; // everything is overdue
    for (int i = 0; i < 5; ++i)
        connector->Deliver();
    EXPECT_EQ(meter.blocks.size(), 5u);
    EXPECT_EQ(level.blocks.size(), 5u);
    Fill(100);
    Arrive();
    connector->Deliver();
    EXPECT_EQ(meter.blocks.back()[0], 100) << "a new buffer restarts at 0";
    EXPECT_EQ(connector->Position(TMMConnector::fMeter), 80);
}

TEST_F(Connector, BatchesDeliverEveryDueBlockAtTheRefreshAndFinishTheOlderBufferFirst)
{
    Recorder meter(80);
    Recorder level(396);
    connector->SetMeter1(&meter);
    connector->SetLevel1(&level);
    connector->SetAutoTrigger(true); // the pump's own connector; no event loop runs here
    Start();
    constexpr std::int64_t refresh = TMMConnector::kBatchInterval;
    const std::int64_t first = gNow; // 1 s: half-way through a refresh
    Arrive();
    EXPECT_EQ(connector->DeliverDue(), 2) << "only the first blocks are due on arrival";
    EXPECT_EQ(connector->NextBatch(gNow), (first / refresh + 1) * refresh) << "the next refresh";

    gNow = (first / refresh + 1) * refresh; // 8000 us after arrival
    connector->DeliverDue();
    EXPECT_EQ(level.blocks.size(), 4u) << "level blocks 0..3; 4 falls due at 8979 us";
    EXPECT_EQ(meter.blocks.size(), 18u) << "meter blocks 0..17; 18 falls due at 8163 us";
    EXPECT_EQ(connector->NextBatch(gNow), gNow + refresh);

    // The next buffer (other bytes) comes 23220 us after the first, before the next refresh.
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i + 100);
    const std::int64_t second = first + 23220;
    gNow = second;
    Arrive();
    EXPECT_EQ(connector->NextBatch(gNow), (gNow / refresh + 1) * refresh) << "the older buffer is overdue";
    gNow = second + 780;
    connector->DeliverDue();
    ASSERT_EQ(level.blocks.size(), 11u) << "the rest of the first buffer (4..9), then the second's 0";
    ASSERT_EQ(meter.blocks.size(), 53u) << "the rest of the first (18..50), then the second's 0 and 1";
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(level.blocks[i][0], static_cast<std::uint8_t>(396 * i)) << "first buffer, in order";
    EXPECT_EQ(level.blocks[10][0], 100) << "second buffer";
    EXPECT_EQ(meter.blocks[50][0], static_cast<std::uint8_t>(80 * 50));
    EXPECT_EQ(meter.blocks[51][0], 100);
    EXPECT_EQ(meter.blocks[52][0], static_cast<std::uint8_t>(180));

    // Everything out: the beat goes on while buffers keep coming, then the pump sleeps.
    gNow = second + 30000;
    connector->DeliverDue();
    EXPECT_EQ(level.blocks.size(), 20u);
    EXPECT_EQ(meter.blocks.size(), 102u);
    EXPECT_FALSE(connector->Due(TMMConnector::fMeter));
    EXPECT_EQ(connector->NextBatch(gNow), (gNow / refresh + 1) * refresh);
    gNow = second + 50000;
    EXPECT_EQ(connector->NextBatch(gNow), INT64_MAX);
}

TEST_F(Connector, ThePumpGoesOnFromTheLastBufferButOneWhenSeveralArriveBetweenPasses)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    connector->SetAutoTrigger(true); // the pump's own connector; no event loop runs here
    Start();
    Arrive();
    ASSERT_EQ(connector->DeliverDue(), 1);
    for (int first : { 50, 100, 150 }) { // three more before the next pass
        Fill(first);
        gNow += 23220;
        Arrive();
    }
    gNow += 1'000'000;
    EXPECT_EQ(connector->DeliverDue(), 20) << "the last two buffers whole";
    ASSERT_EQ(level.blocks.size(), 21u);
    EXPECT_EQ(level.blocks[1][0], 100) << "the buffer before the newest, from its start";
    EXPECT_EQ(level.blocks[10][0], static_cast<std::uint8_t>(100 + 9 * 396));
    EXPECT_EQ(level.blocks[11][0], 150) << "then the newest";
}

// A display that stalls in its update until another thread has handed the connector a buffer
// (as a display does whose window system hangs), and notes whether the block it reads stayed put.
class StalledDisplay : public Recorder {
public:
    explicit StalledDisplay(std::function<void()> handOver)
        : Recorder(396)
        , m_handOver(std::move(handOver))
    {
    }
    void ProcessData(const void* data) override
    {
        Recorder::ProcessData(data);
        if (blocks.size() != 1)
            return;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        const std::vector<std::uint8_t> before(bytes, bytes + 396);
        m_thread = std::thread([this] {
            m_handOver();
            std::lock_guard lock(m_mutex);
            m_done = true;
            m_doneChanged.notify_all();
        });
        std::unique_lock lock(m_mutex);
        // Long enough for any machine; only a hand-over that waits for this update runs into it.
        handedOver = m_doneChanged.wait_for(lock, std::chrono::seconds(10), [this] { return m_done; });
        blockKept = std::equal(before.begin(), before.end(), bytes);
    }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool handedOver = false;
    bool blockKept = false;

private:
    std::function<void()> m_handOver;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
};

TEST_F(Connector, TheCaptureThreadHandsOverWhileADisplayIsStillDrawing)
{
    std::vector<std::uint8_t> next(4096, 0xEE);
    StalledDisplay level([&] { connector->TakeData(next.data(), 4096); });
    connector->SetLevel1(&level);
    Start();
    Arrive();
    connector->Deliver();
    level.Join();
    EXPECT_TRUE(level.handedOver) << "the capture thread waited for the display";
    EXPECT_TRUE(level.blockKept) << "the block changed under the display";
    connector->Deliver();
    ASSERT_EQ(level.blocks.size(), 2u);
    EXPECT_EQ(level.blocks[1][0], 0xEE) << "the next pass takes the new buffer over";
}

TEST_F(Connector, ADisplayThatStopsDisablesOrDestroysTheConnectorEndsThePass)
{
    enum Action { Stop, Disable, Destroy, PassFromInside };
    for (const Action action : { Stop, Disable, Destroy, PassFromInside }) {
        SCOPED_TRACE(static_cast<int>(action));
        Make();
        // Acts on its first block; the other level bar and the meter come after it in the pass.
        struct Actor : Recorder {
            using Recorder::Recorder;
            void ProcessData(const void* data) override
            {
                Recorder::ProcessData(data);
                if (blocks.size() == 1)
                    act();
            }
            std::function<void()> act;
        } first(396);
        Recorder second(396);
        Recorder meter(80);
        first.act = [&] {
            switch (action) {
            case Stop:
                connector->ChainStop();
                break;
            case Disable:
                connector->SetEnabled(false);
                break;
            case Destroy:
                connector.reset();
                break;
            case PassFromInside:
                connector->Deliver();
                connector->DeliverDue();
                break;
            }
        };
        connector->SetLevel1(&first);
        connector->SetLevel2(&second);
        connector->SetMeter1(&meter);
        Start();
        Arrive();
        gNow += 1'000'000; // every block overdue
        connector->Deliver();
        const std::size_t rest = action == PassFromInside ? 1 : 0;
        EXPECT_EQ(first.blocks.size(), 1u);
        EXPECT_EQ(second.blocks.size(), rest);
        EXPECT_EQ(meter.blocks.size(), rest);
        if (action == PassFromInside) {
            EXPECT_EQ(second.blocks[0], first.blocks[0]) << "the same block, in order";
        }
        connector.reset();
    }
}

TEST_F(Connector, TwinSlotsNeverHoldTheSameDisplay)
{
    Recorder a(396);
    Recorder b(396);
    connector->SetLevel1(&a);
    connector->SetLevel2(&a);
    EXPECT_EQ(connector->Level2(), nullptr);
    connector->SetMeter1(&a); // another family may show it too
    EXPECT_EQ(connector->Meter1(), &a);
    connector->SetSpectrum(1, &b);
    connector->SetSpectrum(2, &b);
    EXPECT_EQ(connector->Spectrum(2), &b);
}

TEST_F(Connector, DisablingClearsTheDisplaysAndDeliveriesResumeWithTheNextBuffer)
{
    Recorder level(396);
    Recorder meter(80);
    connector->SetLevel1(&level);
    connector->SetMeter1(&meter);
    Start();
    Arrive();
    connector->Deliver();
    connector->SetEnabled(false);
    EXPECT_EQ(level.resets, 1);
    EXPECT_EQ(meter.resets, 1);
    gNow += 1'000'000;
    Arrive();
    connector->Deliver();
    EXPECT_EQ(level.blocks.size(), 1u);
    connector->SetEnabled(true);
    QApplication::processEvents();
    connector->Deliver();
    EXPECT_EQ(level.blocks.size(), 1u) << "nothing left over from before";
    Arrive();
    connector->Deliver();
    EXPECT_EQ(level.blocks.size(), 2u);
}

TEST_F(Connector, StoppingClearsTheDisplaysUnlessToldNotTo)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    Start();
    connector->ChainStop();
    EXPECT_EQ(level.resets, 1);
    EXPECT_FALSE(connector->IsStarted());
    connector->SetRefreshOnStop(false);
    connector->ChainStart();
    connector->ChainStop();
    EXPECT_EQ(level.resets, 1);
    // Data after the stop is ignored.
    Arrive();
    EXPECT_EQ(connector->ValidBytes(), 0);
}

TEST_F(Connector, ADestroyedDisplayIsForgottenAndTheOthersKeepBeingFed)
{
    Recorder meter(80);
    auto level = std::make_unique<Recorder>(396);
    connector->SetLevel1(level.get());
    connector->SetMeter2(&meter);
    Start();
    level.reset();
    EXPECT_EQ(connector->Level1(), nullptr);
    Arrive();
    connector->Deliver();
    EXPECT_EQ(meter.blocks.size(), 1u);
    connector->ChainStop();
    EXPECT_EQ(meter.resets, 1);
}

TEST_F(Connector, PauseFeedsSilenceThroughTheDisplayTimer)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    Start();
    Arrive();
    const int timers = zv::DisplayTimerService::Instance().SubscriberCount();
    connector->ChainPause();
    EXPECT_EQ(zv::DisplayTimerService::Instance().SubscriberCount(), timers + 1);
    Arrive(); // ignored while paused
    zv::DisplayTimerService::Instance().Tick();
    connector->Deliver();
    ASSERT_FALSE(level.blocks.empty());
    for (int i = 0; i < 396; ++i)
        ASSERT_EQ(level.blocks.back()[i], 0) << i;
    connector->ChainRestart();
    EXPECT_EQ(zv::DisplayTimerService::Instance().SubscriberCount(), timers);
    EXPECT_EQ(connector->SilenceByte(), 0);
}

TEST_F(Connector, RealTimeCannotChangeWhileOpen)
{
    connector->ChainOpen();
    try {
        connector->SetRealTime(false);
        FAIL();
    } catch (const EMMConnectorError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_TRUE(connector->RealTime());
    connector->ChainClose();
    connector->SetRealTime(false);
    EXPECT_FALSE(connector->RealTime());
    connector->SetSpeed(0);
    EXPECT_EQ(connector->Speed(), 1);
    connector->SetSpeed(9000);
    EXPECT_EQ(connector->Speed(), 5000);
}

TEST_F(Connector, WithoutRealTimeEveryBufferIsDeliveredAtOnce)
{
    connector->SetRealTime(false);
    connector->SetAutoTrigger(true);
    Recorder level(396);
    connector->SetLevel1(&level);
    connector->ChainOpen();
    connector->ChainStart();
    Arrive(); // on the user-interface thread: one pass now
    EXPECT_EQ(level.blocks.size(), 1u);
}

TEST_F(Connector, ManualTriggerFromAnotherThreadIsPostedAndFiresOnTrigger)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    connector->SetSynchronize(false);
    int passes = 0;
    connector->OnTrigger = [&](QObject*) { ++passes; };
    Start();
    Arrive();
    std::thread capture([&] {
        connector->Trigger();
        connector->Trigger(); // one request outstanding at most
    });
    capture.join();
    EXPECT_TRUE(level.blocks.empty()) << "nothing is drawn off the user-interface thread";
    QApplication::processEvents();
    EXPECT_EQ(level.blocks.size(), 1u);
    EXPECT_EQ(passes, 1);
    connector->Trigger(); // on this thread: at once, and unsynchronised every block is due
    EXPECT_EQ(level.blocks.size(), 2u);
    EXPECT_EQ(level.blocks[1] - level.blocks[0], 396);
}

TEST_F(Connector, SynchronisedBufferIsReadFromItsTwinHeader)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    Start();
    std::vector<std::uint8_t> block(sizeof(WaveHeader) + 4096, 0);
    std::vector<std::uint8_t> twinBlock(sizeof(WaveHeader) + 4096, 7);
    auto* header = reinterpret_cast<WaveHeader*>(block.data());
    auto* twin = reinterpret_cast<WaveHeader*>(twinBlock.data());
    std::memset(header, 0, sizeof(WaveHeader));
    std::memset(twin, 0, sizeof(WaveHeader));
    header->lpData = reinterpret_cast<char*>(block.data() + sizeof(WaveHeader));
    header->dwBytesRecorded = 4096;
    twin->lpData = reinterpret_cast<char*>(twinBlock.data() + sizeof(WaveHeader));
    twin->dwBytesRecorded = 800;
    header->SyncHeader = twin;
    connector->DeliverBuffer(header);
    EXPECT_EQ(connector->ValidBytes(), 800);
    connector->Deliver();
    ASSERT_EQ(level.blocks.size(), 1u);
    EXPECT_EQ(level.blocks[0][0], 7);
    connector->SetSynchronize(false);
    connector->DeliverBuffer(header);
    EXPECT_EQ(connector->ValidBytes(), 4096);
}

TEST_F(Connector, NonPcmInputIsNotShown)
{
    Recorder level(396);
    connector->SetLevel1(&level);
    const std::size_t formats = level.formats.size();
    TWaveFormatEx compressed {};
    MakePCMFormat(compressed, 16, 2, 44100);
    compressed.wFormatTag = 85;
    connector->SetWaveFormat(&compressed);
    EXPECT_EQ(level.formats.size(), formats);
    connector->ChainOpen();
    connector->ChainStart();
    EXPECT_FALSE(connector->IsStarted());
    Arrive();
    EXPECT_EQ(connector->ValidBytes(), 0);
}

TEST(ConnectorTrigger, FindsTheFirstCrossingInEitherDirection)
{
    TWaveFormatEx mono16 {};
    MakePCMFormat(mono16, 16, 1, 44100);
    const std::int16_t wave[] = { 0, 5000, 20000, 3000, -9000, -20000, 100 };
    // 50 % is 16350.
    EXPECT_EQ(TMMConnector::FindTrigger(&mono16, wave, sizeof wave, 50, tmUpFlank), 4);
    EXPECT_EQ(TMMConnector::FindTrigger(&mono16, wave, sizeof wave, 50, tmDownFlank), 10);
    EXPECT_EQ(TMMConnector::FindTrigger(&mono16, wave, sizeof wave, 90, tmUpFlank), -1);
    EXPECT_EQ(TMMConnector::FindTrigger(&mono16, wave, sizeof wave, 50, tmNone), -1);
    EXPECT_EQ(TMMConnector::FindTrigger(&mono16, wave, 0, 50, tmUpFlank), -1);
    TWaveFormatEx stereo8 {};
    MakePCMFormat(stereo8, 8, 2, 22050);
    const std::uint8_t bytes[] = { 128, 255, 150, 0, 200, 0 }; // left: 128, 150, 200; threshold 191
    EXPECT_EQ(TMMConnector::FindTrigger(&stereo8, bytes, sizeof bytes, 50, tmUpFlank), 4);
}

// The whole chain: synthetic capture, connector, a pair of bars and a pair of meters; an
// oscilloscope and a spectrum analyser that are not shown, as the main window keeps them.
TEST(Chain, CapturedToneReachesEveryDisplayAndStopClearsThem)
{
    zv::DisplayTimerService::Instance().SetManual(true);
    auto binding = zv::MakeSyntheticWaveIn({ zv::SyntheticDevice { zv::SyntheticDevice::Tone, "tone" } });
    QWidget window;
    window.resize(400, 100);
    auto* levelL = new TMMLevel(&window);
    auto* levelR = new TMMLevel(&window);
    auto* meterL = new TMMMeter(&window);
    auto* meterR = new TMMMeter(&window);
    levelL->setGeometry(0, 0, 158, 18);
    levelR->setGeometry(0, 20, 158, 18);
    meterL->setGeometry(200, 0, 85, 57);
    meterR->setGeometry(300, 0, 85, 57);
    levelL->SetChannel(chLeft);
    levelR->SetChannel(chRight);
    meterL->SetChannel(chLeft);
    meterR->SetChannel(chRight);
    levelL->SetSamples(99);
    levelR->SetSamples(99);
    meterL->SetSamples(20);
    meterR->SetSamples(20);
    auto* scope = new TMMOscope(&window);
    auto* spectrum = new TMMSpectrum(&window);
    scope->hide();
    spectrum->hide();
    window.show();
    {
        TMMWaveIn waveIn(*binding);
        TMMConnector connector;
        waveIn.SetCallBackMode(cmThread);
        waveIn.SetBitLength(b16Bit);
        waveIn.SetMode(mStereo);
        waveIn.SetSampleRate(44100);
        waveIn.SetBufferSize(4096);
        waveIn.SetOutput(&connector);
        connector.SetLevel1(levelL);
        connector.SetLevel2(levelR);
        connector.SetMeter1(meterR);
        connector.SetMeter2(meterL);
        connector.SetOscope1(scope);
        connector.SetSpectrum1(spectrum);
        EXPECT_EQ(levelL->BitLength(), b16Bit);
        EXPECT_EQ(levelL->Mode(), mStereo);
        waveIn.Open();
        waveIn.Start();
        // Left at half scale (-6 dB), right at a quarter (-12 dB).
        const int spotsL = zv::LevelToSpots(16383, 0, -35, true, levelL->NumSpots());
        const int spotsR = zv::LevelToSpots(8191, 0, -35, true, levelR->NumSpots());
        const int needleL = zv::LevelToNeedle(16383, 0, -50, true);
        zv::test::PumpUntil([&] {
            return std::abs(levelL->Shown() - spotsL) <= 1 && std::abs(levelR->Shown() - spotsR) <= 1
                && std::abs(meterL->Shown() - needleL) <= 400 && meterL->Shown() > meterR->Shown()
                && connector.Delivered(TMMConnector::fMeter) > connector.Delivered(TMMConnector::fLevel);
        });
        EXPECT_EQ(TMMConnector::RunningAutoConnectors(), 1);
        EXPECT_NEAR(levelL->Shown(), spotsL, 1);
        EXPECT_NEAR(levelR->Shown(), spotsR, 1);
        EXPECT_NEAR(meterL->Shown(), needleL, 400);
        EXPECT_GT(meterL->Shown(), meterR->Shown());
        EXPECT_GT(connector.Delivered(TMMConnector::fMeter), connector.Delivered(TMMConnector::fLevel));
        EXPECT_EQ(connector.Delivered(TMMConnector::fScope), 0) << "hidden displays get no blocks";
        EXPECT_EQ(connector.Delivered(TMMConnector::fSpectrum), 0);

        waveIn.Stop();
        QApplication::processEvents();
        EXPECT_EQ(levelL->Shown(), 0);
        EXPECT_EQ(levelR->Shown(), 0);
        EXPECT_EQ(meterL->Shown(), 0);
        EXPECT_EQ(meterR->Shown(), 0);
        EXPECT_EQ(TMMConnector::RunningAutoConnectors(), 0);
        waveIn.Close();
    }
    // The connector is gone; its displays are not touched any more.
    delete levelL;
    QApplication::processEvents();
}

TEST(ConnectorLife, MessagesOfADestroyedConnectorFindNobody)
{
    {
        TMMConnector connector;
        TWaveFormatEx format {};
        MakePCMFormat(format, 8, 1, 8000);
        connector.SetWaveFormat(&format);
        connector.ChainOpen();
        connector.ChainStart(); // posts its start message
    }
    QApplication::processEvents();
    EXPECT_EQ(TMMConnector::RunningAutoConnectors(), 0);
}

} // namespace
