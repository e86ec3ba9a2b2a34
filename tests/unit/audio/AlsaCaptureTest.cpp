// Capture through ALSA itself, without a sound card: the test PCMs of
// tests/fixtures/alsa/zoveva-test.conf are loaded for this process only.

#include "TestComponents.h"
#include "WaveInSupport.h"
#include "audio/MMWavIn.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

constexpr int kSignalFrames = 88200; // two seconds, more than any capture below reads

class AlsaEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        signal = test::SignalBytes(kSignalFrames);
        const std::string path
            = test::WriteFile(dir, "signal.raw", std::string(signal.begin(), signal.end()));
        // Before the first ALSA call of the process, which reads the configuration.
        setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" ZOVEVA_ALSA_TEST_CONF, 1);
        setenv("ZOVEVA_TEST_SIGNAL", path.c_str(), 1);
    }
    QTemporaryDir dir;
    std::vector<char> signal;
};

AlsaEnvironment* gEnvironment
    = static_cast<AlsaEnvironment*>(::testing::AddGlobalTestEnvironment(new AlsaEnvironment));

TEST(AlsaCapture, TestPcmsAreListedByDescriptionWithTheirFormats)
{
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    const QStringList names = TMMWaveIn::DeviceNames(alsa);
    EXPECT_TRUE(names.contains("ZoVeva test signal")) << names.join(", ").toStdString();
    EXPECT_TRUE(names.contains("ZoVeva broken input"));
    EXPECT_FALSE(names.contains("null"));

    const int id = TMMWaveIn::DeviceIdOf("ZoVeva test signal", alsa);
    TWaveInCaps caps {};
    ASSERT_EQ(alsa.GetDevCaps(id, caps), 0);
    EXPECT_EQ(caps.dwFormats, 0x0FFFu); // the file plugin over null takes every standard format
    EXPECT_EQ(caps.wChannels, 2);
}

TEST(AlsaCapture, KnownSignalArrivesSampleForSampleInRealTime)
{
    test::App();
    TTestConsumer consumer;
    TMMWaveIn w(zv::AlsaWaveIn());
    w.SetOutput(&consumer);
    w.SetBufferSize(4096);
    w.SetNumBuffers(20);
    w.SetCallBackMode(cmThread);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetTimeFormat(tfMillisecond);
    w.SetMaxRecordTime(1000);
    w.SetDeviceID(TMMWaveIn::DeviceIdOf("ZoVeva test signal", zv::AlsaWaveIn()));
    ASSERT_EQ(w.ProductName(), "ZoVeva test signal");
    bool stopped = false;
    w.OnStop = [&](QObject*) { stopped = true; };

    const auto begin = std::chrono::steady_clock::now();
    w.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return stopped; }));
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    w.Close();

    const std::vector<char> bytes = consumer.Bytes();
    ASSERT_EQ(bytes.size(), 176400u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), gEnvironment->signal.begin()));
    // The file has no clock: the binding hands it out as a card would record it.
    EXPECT_GE(elapsed, std::chrono::milliseconds(990));
}

TEST(AlsaCapture, DeviceThatCannotOpenIsReportedWithALSAsText)
{
    test::App();
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    TMMWaveIn w(alsa);
    w.SetDeviceID(TMMWaveIn::DeviceIdOf("ZoVeva broken input", alsa));
    ASSERT_EQ(w.ProductName(), "ZoVeva broken input");
    bool closed = false;
    w.OnClose = [&](QObject*) { closed = true; };
    try {
        w.Start();
        FAIL() << "a device without its input file opened";
    } catch (const EMMWaveInError& e) {
        EXPECT_STREQ(e.what(), "WaveInOpen:\n\rThe actual device can''t record this format");
    }
    EXPECT_EQ(w.DeviceState(), dsClosed);
    EXPECT_TRUE(closed);

    // The open itself, past the format check, carries ALSA's own text.
    TWaveFormatEx f {};
    MakePCMFormat(f, 16, 2, 44100);
    zv::WaveInHandle h = 0;
    const int code = alsa.Open(&h, w.DeviceID(), f, nullptr, nullptr, 0);
    ASSERT_NE(code, 0);
    char text[256];
    ASSERT_EQ(alsa.GetErrorText(code, text, sizeof text), 0);
    EXPECT_STREQ(text, "No such file or directory");
}

} // namespace
