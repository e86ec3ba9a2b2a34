// The wave-in component over the synthetic binding: properties, open rules, the ring, deferred
// stop and close, limits and failures.

#include "TestComponents.h"
#include "WaveInSupport.h"
#include "audio/MMWavIn.h"

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace {

using namespace std::chrono_literals;

constexpr int kSignalFrames = 13230; // 0.3 s: a one-second capture wraps it three times

class WaveInTest : public ::testing::Test {
protected:
    enum Device { kTone, kSilence, kSignal, kFailing, kPacedTone };

    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        signal = test::SignalBytes(kSignalFrames);
        const std::string path = test::WriteFile(dir, "signal.wav", test::WavImage(signal));
        ops = zv::MakeSyntheticWaveIn({
            { zv::SyntheticDevice::Tone, "Tone", {}, -1, false },
            { zv::SyntheticDevice::Silence, "Silence", {}, -1, false },
            { zv::SyntheticDevice::WavFile, "Signal", path, -1, false },
            { zv::SyntheticDevice::Tone, "Failing", {}, 20000, false },
            { zv::SyntheticDevice::Tone, "Paced tone", {}, -1, true },
        });
    }

    // The settings the main window gives its capture component.
    std::unique_ptr<TMMWaveIn> MakeWaveIn(int device, TMMCallBackMode mode = cmThread)
    {
        auto w = std::make_unique<TMMWaveIn>(*ops);
        w->SetOutput(&consumer);
        w->SetBufferSize(4096);
        w->SetNumBuffers(20);
        w->SetCallBackMode(mode);
        w->SetMode(mStereo);
        w->SetBitLength(b16Bit);
        w->SetSampleRate(44100);
        w->SetTimeFormat(tfMillisecond);
        w->SetDeviceID(device);
        w->OnOpen = [this](QObject*) { log += "open "; };
        w->OnStart = [this](QObject*) { log += "start "; };
        w->OnPause = [this](QObject*) { log += "pause "; };
        w->OnRestart = [this](QObject*) { log += "restart "; };
        w->OnStop = [this](QObject*) { log += "stop "; };
        w->OnClose = [this](QObject*) { log += "close "; };
        w->OnError = [this](QObject*) { log += "error "; };
        return w;
    }

    static bool Closed(const TMMWaveIn& w) { return w.DeviceState() == dsClosed; }
    // A close asked for while a buffer is being handled ends through the event loop.
    static void CloseAndWait(TMMWaveIn& w)
    {
        w.Close();
        ASSERT_TRUE(test::PumpUntil([&] { return Closed(w); }));
    }

    QTemporaryDir dir;
    std::vector<char> signal;
    std::unique_ptr<zv::WaveInOps> ops;
    TTestConsumer consumer;
    std::string log;
};

TEST_F(WaveInTest, PropertiesClampOrIgnoreOutOfRangeValues)
{
    auto w = MakeWaveIn(kTone);
    w->SetNumBuffers(1);
    EXPECT_EQ(w->NumBuffers(), 20);
    w->SetNumBuffers(1000);
    EXPECT_EQ(w->NumBuffers(), 500);
    w->SetBufferSize(10);
    EXPECT_EQ(w->GetBufferSize(), 32);
    w->SetSampleRate(200000);
    EXPECT_EQ(w->SampleRate(), 100000);
    w->SetSampleRate(100);
    EXPECT_EQ(w->SampleRate(), 8000);
    w->SetMode(mMultiChannel);
    EXPECT_EQ(w->Mode(), mStereo);
    w->SetCallBackMode(cmCallback);
    EXPECT_EQ(w->CallBackMode(), cmThread);

    // The format follows the properties and reaches the chain.
    w->SetSampleRate(44100);
    ASSERT_NE(consumer.WaveFormat(), nullptr);
    EXPECT_EQ(consumer.WaveFormat()->nAvgBytesPerSec, 176400u);

    EXPECT_EQ(w->DeviceCount(), 5);
    w->SetDeviceID(5);
    EXPECT_EQ(w->DeviceID(), InvalidId);
    EXPECT_EQ(w->ProductName(), "No wave audio recording device found");
    w->SetDeviceID(MapperId);
    EXPECT_EQ(w->DeviceID(), MapperId);
    EXPECT_EQ(w->ProductName(), "Tone");
    w->SetDeviceID(kSignal);
    EXPECT_EQ(w->ProductName(), "Signal");

    // A limit keeps its length when its unit changes.
    w->SetMaxRecordTime(1000);
    w->SetTimeFormat(tfByte);
    EXPECT_EQ(w->MaxRecordTime(), 176400);
    w->SetTimeFormat(tfSample);
    EXPECT_EQ(w->MaxRecordTime(), 44100);
    w->SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w->MaxRecordTime(), 1000);
    EXPECT_EQ(TMMWaveIn::DeviceIdOf("Paced tone", *ops), kPacedTone);
    EXPECT_EQ(TMMWaveIn::DeviceIdOf("Nothing", *ops), InvalidId);
}

TEST_F(WaveInTest, OpenPreconditionsRaiseTheirTexts)
{
    auto none = zv::MakeSyntheticWaveIn({});
    TMMWaveIn empty(*none);
    for (int id : { 0, MapperId }) {
        empty.SetDeviceID(id);
        EXPECT_EQ(empty.ProductName(), "No wave audio recording device found");
    }
    int errors = 0;
    empty.OnError = [&](QObject*) { ++errors; };
    try {
        empty.Start();
        FAIL() << "opened without devices";
    } catch (const EMMWaveInError& e) {
        EXPECT_STREQ(e.what(), "No wave audio recording device found");
    }

    auto w = MakeWaveIn(7);
    try {
        w->Open();
        FAIL() << "opened an invalid id";
    } catch (const EMMWaveInError& e) {
        EXPECT_STREQ(e.what(), "Invalid DeviceID");
    }
    EXPECT_EQ(log, "error ");
    EXPECT_EQ(errors, 1);
}

TEST_F(WaveInTest, SettersRefuseWhileOpen)
{
    auto w = MakeWaveIn(kSilence);
    w->Start();
    const std::vector<std::function<void()>> setters = {
        [&] { w->SetSampleRate(22050); },
        [&] { w->SetBufferSize(1024); },
        [&] { w->SetNumBuffers(4); },
        [&] { w->SetDeviceID(kTone); },
        [&] { w->SetMode(mMono); },
        [&] { w->SetBitLength(b8Bit); },
        [&] { w->SetCallBackMode(cmWindow); },
    };
    for (const auto& set : setters) {
        try {
            set();
            ADD_FAILURE() << "a setter accepted a change while open";
        } catch (const EMMWaveInError& e) {
            EXPECT_STREQ(e.what(), "Change to property while device was open");
        }
    }
    EXPECT_EQ(w->SampleRate(), 44100);
    EXPECT_EQ(w->GetBufferSize(), 4096);
    EXPECT_EQ(w->DeviceID(), int(kSilence));
    CloseAndWait(*w);
    EXPECT_TRUE(Closed(*w));
    w->SetSampleRate(22050); // accepted again once closed
    EXPECT_EQ(w->SampleRate(), 22050);
}

TEST_F(WaveInTest, StartOnAClosedDeviceOpensFirst)
{
    auto w = MakeWaveIn(kSilence);
    w->Start();
    EXPECT_EQ(log, "open start ");
    EXPECT_TRUE(w->Started());
    EXPECT_TRUE(consumer.Opened());
    EXPECT_TRUE(consumer.Started());
    EXPECT_EQ(consumer.GetBufferSize(), 4096);
    ASSERT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= 3; }));
    w->Stop(); // may wait for a buffer being handled: then it ends through the event loop
    ASSERT_TRUE(test::PumpUntil([&] { return !consumer.Started(); }));
    w->Close();
    EXPECT_EQ(log, "open start stop close ");
    EXPECT_FALSE(consumer.Opened());
    EXPECT_TRUE(Closed(*w));
    w->Stop(); // nothing to do in any order
    w->Close();
    EXPECT_EQ(log, "open start stop close ");
}

TEST_F(WaveInTest, MaxRecordTimeDeliversExactlyTheLimitThenStops)
{
    auto w = MakeWaveIn(kSignal);
    w->SetMaxRecordTime(1000);
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return log.find("stop") != std::string::npos; }));
    test::Pump(50ms); // nothing more may come
    const std::vector<char> bytes = consumer.Bytes();
    ASSERT_EQ(bytes.size(), 176400u);
    const std::vector<int> sizes = consumer.Sizes();
    ASSERT_EQ(sizes.size(), 44u);
    EXPECT_EQ(sizes.back(), 176400 - 43 * 4096);
    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end() - 1, [](int s) { return s == 4096; }));
    EXPECT_EQ(log, "open start stop ");
    // The file, frame for frame, looped at its end.
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != signal[i % signal.size()]) {
            ADD_FAILURE() << "byte " << i << " differs";
            break;
        }
}

TEST_F(WaveInTest, StopFromTheBufferHandlerCompletesLaterOnce)
{
    auto w = MakeWaveIn(kTone);
    std::atomic<int> handled { 0 };
    std::atomic<bool> stillStartedAfterStop { false };
    std::atomic<bool> onCaptureThread { false };
    w->OnBufferReady = [&](QObject*, PWaveHdr) {
        if (++handled == 3) {
            onCaptureThread = QThread::currentThread() != test::App().thread();
            w->Stop(); // returns at once: the stop is pending
            stillStartedAfterStop = (w->DeviceState() & dsStarted) != 0;
        }
    };
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return log.find("stop") != std::string::npos; }));
    test::Pump(50ms);
    EXPECT_TRUE(onCaptureThread);
    EXPECT_TRUE(stillStartedAfterStop);
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(log, "open start stop ");
    EXPECT_FALSE(w->Started());
    w->Start(); // the ring is whole again
    ASSERT_TRUE(test::PumpUntil([&] { return handled > 25; }));
    w->Close();
    ASSERT_TRUE(test::PumpUntil([&] { return Closed(*w); }));
    EXPECT_EQ(log, "open start stop start stop close ");
}

TEST_F(WaveInTest, CloseDuringBufferHandlingIsDeferredUntilItEnds)
{
    auto w = MakeWaveIn(kTone);
    std::mutex m;
    std::condition_variable cv;
    bool inHandler = false, release = false;
    std::atomic<int> handled { 0 };
    w->OnBufferReady = [&](QObject*, PWaveHdr) {
        if (++handled != 2)
            return;
        std::unique_lock lock(m);
        inHandler = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return release; });
    };
    w->Start();
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return inHandler; }));
    }
    w->Close();
    EXPECT_FALSE(Closed(*w)) << "closed while a buffer was being handled";
    EXPECT_EQ(log, "open start ");
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(test::PumpUntil([&] { return Closed(*w); }));
    EXPECT_EQ(log, "open start stop close ");
    EXPECT_EQ(handled, 2);
    EXPECT_FALSE(consumer.Opened());
}

TEST_F(WaveInTest, DeviceLostWhileCapturingEndsInOnErrorAndClosed)
{
    auto w = MakeWaveIn(kFailing);
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return log.find("error") != std::string::npos; }));
    EXPECT_TRUE(Closed(*w));
    EXPECT_EQ(log, "open start stop close error ");
    EXPECT_EQ(w->ErrorMessage(), "WaveIn:\n\rNo such device");
    EXPECT_EQ(consumer.Bytes().size() % 4096, 0u);
    EXPECT_LE(consumer.Bytes().size(), 20000u * 4);
}

TEST_F(WaveInTest, ExceptionDownTheChainEndsInOnErrorAndClosed)
{
    auto w = MakeWaveIn(kTone);
    w->OnBufferReady = [](QObject*, PWaveHdr) { throw std::runtime_error("display failed"); };
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return Closed(*w); }));
    EXPECT_EQ(w->ErrorMessage(), "display failed");
    EXPECT_EQ(log, "open start stop close error ");
}

TEST_F(WaveInTest, WindowModeHandsBuffersOnTheOwnersThread)
{
    auto w = MakeWaveIn(kSignal, cmWindow);
    std::atomic<bool> foreign { false };
    w->OnBufferReady = [&](QObject*, PWaveHdr) {
        if (QThread::currentThread() != test::App().thread())
            foreign = true;
    };
    w->SetMaxRecordTime(200);
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return log.find("stop") != std::string::npos; }));
    EXPECT_FALSE(foreign);
    EXPECT_EQ(consumer.Bytes().size(), std::size_t(MsToBytes(w->WaveFormat(), 200)));
    w->Close();
    EXPECT_TRUE(Closed(*w));
}

TEST_F(WaveInTest, ReopeningWithTheSameSizesReusesTheHeaderBlocks)
{
    auto w = MakeWaveIn(kSilence);
    std::mutex m;
    std::set<char*> seen;
    w->OnBufferReady = [&](QObject*, PWaveHdr h) {
        std::lock_guard lock(m);
        seen.insert(h->lpData);
    };
    auto run = [&] {
        const int before = consumer.Buffers();
        w->Start();
        EXPECT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= before + 60; }));
        CloseAndWait(*w);
        std::lock_guard lock(m);
        std::set<char*> result;
        result.swap(seen);
        return result;
    };
    const std::set<char*> first = run();
    const std::set<char*> second = run();
    EXPECT_EQ(first.size(), 20u);
    EXPECT_EQ(first, second);
}

TEST_F(WaveInTest, PauseHoldsTheRingAndRestartResumes)
{
    auto w = MakeWaveIn(kPacedTone);
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= 2; }));
    w->Pause();
    EXPECT_TRUE(consumer.Paused());
    test::Pump(100ms); // the partly filled buffer comes back at the pause
    const int atPause = consumer.Buffers();
    test::Pump(150ms); // six buffers' time
    EXPECT_EQ(consumer.Buffers(), atPause);
    w->Restart();
    EXPECT_FALSE(consumer.Paused());
    ASSERT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= atPause + 3; }));
    CloseAndWait(*w);
    EXPECT_EQ(log, "open start pause restart stop close ");
}

TEST_F(WaveInTest, PauseBeforeStartQueuesTheRingButRecordsOnlyAfterRestart)
{
    auto w = MakeWaveIn(kTone);
    w->Pause();
    EXPECT_EQ(log, "open pause ");
    w->Start();
    EXPECT_EQ(log, "open pause start ");
    test::Pump(50ms);
    EXPECT_EQ(consumer.Buffers(), 0);
    w->Restart();
    ASSERT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= 5; }));
    CloseAndWait(*w);
    EXPECT_EQ(log, "open pause start restart stop close ");
}

TEST_F(WaveInTest, PacedToneArrivesInRealTimeWithItsLevels)
{
    auto w = MakeWaveIn(kPacedTone);
    w->SetMaxRecordTime(300);
    const auto begin = std::chrono::steady_clock::now();
    w->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return log.find("stop") != std::string::npos; }));
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    // Not before a real recording could have filled it (a small margin for the clock's grain).
    EXPECT_GE(elapsed, std::chrono::milliseconds(290));
    const std::vector<char> bytes = consumer.Bytes();
    ASSERT_EQ(bytes.size(), std::size_t(MsToBytes(w->WaveFormat(), 300)));
    const auto extremes = PCMMinMax(w->WaveFormat(), bytes.data(), int(bytes.size()));
    EXPECT_EQ(std::max(std::abs(extremes[0]), std::abs(extremes[1])), 16383);
    EXPECT_EQ(std::max(std::abs(extremes[2]), std::abs(extremes[3])), 8191);
}

TEST_F(WaveInTest, DestroyingACapturingComponentLeavesNothingRunning)
{
    for (TMMCallBackMode mode : { cmThread, cmWindow }) {
        auto w = MakeWaveIn(kTone, mode);
        w->Start();
        ASSERT_TRUE(test::PumpUntil([&] { return consumer.Buffers() >= 5; }));
        w.reset();
        EXPECT_FALSE(consumer.Opened());
        const int after = consumer.Buffers();
        test::Pump(20ms);
        EXPECT_EQ(consumer.Buffers(), after);
    }
    EXPECT_EQ(log, "open start open start ");
}

} // namespace
