// Capture through ALSA itself, without a sound card: the test PCMs of
// tests/fixtures/alsa/zoveva-test.conf are loaded for this process only.

#include "TestComponents.h"
#include "WaveInSupport.h"
#include "audio/MMWavIn.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

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
        trace = test::WriteFile(dir, "trace.raw", std::string(signal.begin(), signal.end()));
        setenv("ZOVEVA_TEST_TRACE", trace.c_str(), 1);
    }
    QTemporaryDir dir;
    std::vector<char> signal;
    std::string trace; // opened whenever the trace PCM is opened
};

// Counts the opens of a file while it lives.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        EXPECT_GE(inotify_add_watch(fd_, path.c_str(), IN_OPEN), 0) << path;
    }
    ~OpenWatch() { close(fd_); }
    // Opens since the last call.
    int Opens()
    {
        int n = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t got; (got = read(fd_, events, sizeof events)) > 0;)
            for (char* p = events; p < events + got;
                 p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                n += (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) != 0;
        return n;
    }

private:
    int fd_;
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

// Listing and naming, as the encoder (at every start) and the settings window do, open no device:
// a plug-in PCM would connect to its sound server, or start one. A capture opens its own device
// only; the formats of a device are learnt when they are asked for.
TEST(AlsaCapture, DevicesAreOpenedOnlyWhenUsed)
{
    test::App();
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    OpenWatch trace(gEnvironment->trace);

    const QStringList names = TMMWaveIn::DeviceNames(alsa);
    ASSERT_TRUE(names.contains("ZoVeva open trace")) << names.join(", ").toStdString();
    TMMWaveIn w(alsa);
    for (int d = 0; d < w.DeviceCount(); ++d)
        w.SetDeviceID(d);
    EXPECT_EQ(w.ProductName(), names.last());
    EXPECT_EQ(trace.Opens(), 0) << "listing opened the devices";

    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetDeviceID(TMMWaveIn::DeviceIdOf("ZoVeva test signal", alsa));
    w.Start();
    w.Close();
    EXPECT_EQ(trace.Opens(), 0) << "a capture opened another device";

    TWaveInCaps caps {};
    ASSERT_EQ(alsa.GetDevCaps(TMMWaveIn::DeviceIdOf("ZoVeva open trace", alsa), caps), 0);
    EXPECT_EQ(caps.dwFormats, 0x0FFFu);
    EXPECT_GT(trace.Opens(), 0) << "the formats were not read from the device";
}

const QString kLongFirst = QStringLiteral("ZoVeva capture with a long description, first of two");
const QString kLongSecond = QStringLiteral("ZoVeva capture with a long description, second of two");

// The names the operator chooses from are the descriptions whole; converters, routers and
// sound-server bridges (by their PCM type) come after every device, "Default device" before all.
TEST(AlsaCapture, DevicesAreListedWholeWithThePlugInsLast)
{
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    const QStringList names = TMMWaveIn::FullDeviceNames(alsa);
    const std::string listed = names.join(", ").toStdString();
    EXPECT_TRUE(names.contains(kLongFirst)) << listed;
    EXPECT_TRUE(names.contains(kLongSecond)) << listed;
    if (names.contains(QStringLiteral("Default device"))) {
        EXPECT_EQ(names.first(), QStringLiteral("Default device"));
    }

    const QStringList devices { "ZoVeva test signal", "ZoVeva broken input", "ZoVeva open trace", kLongFirst,
        kLongSecond };
    // The fixture's own plug-ins, then those of libasound2-plugins where it is installed.
    const QStringList plugins { "ZoVeva capture converted", "ZoVeva capture routed",
        "Rate Converter Plugin Using Samplerate Library", "Rate Converter Plugin Using Speex Resampler",
        "PulseAudio Sound Server", "JACK Audio Connection Kit", "Plugin for channel upmix (4,6,8)" };
    qsizetype lastDevice = -1;
    for (const QString& device : devices) {
        ASSERT_TRUE(names.contains(device)) << device.toStdString() << " in " << listed;
        lastDevice = std::max(lastDevice, names.indexOf(device));
    }
    for (const QString& plugin : plugins)
        if (names.contains(plugin) || plugin.startsWith(QLatin1String("ZoVeva"))) {
            EXPECT_GT(names.indexOf(plugin), lastDevice) << plugin.toStdString() << " in " << listed;
        }

    // What a device is chosen by in the capabilities stays within their 31 bytes.
    for (const QString& cut : TMMWaveIn::DeviceNames(alsa))
        EXPECT_LE(cut.toUtf8().size(), 31) << cut.toStdString();
}

// Encoding files written when the list showed names cut to 31 bytes hold such a name; it must still
// choose the device that list had under it (the first of two alike), and the encoder and the
// settings window both choose by this.
TEST(AlsaCapture, AWholeOrOnceCutNameChoosesItsDevice)
{
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    const QStringList names = TMMWaveIn::FullDeviceNames(alsa);
    const struct {
        const char* name;
        TMMDeviceId device;
    } cases[] = {
        { "ZoVeva capture with a long description, first of two", TMMDeviceId(names.indexOf(kLongFirst)) },
        { "ZoVeva capture with a long description, second of two", TMMDeviceId(names.indexOf(kLongSecond)) },
        { "ZoVeva capture with a long desc", TMMDeviceId(names.indexOf(kLongFirst)) },
        { "ZoVeva test signal", TMMDeviceId(names.indexOf(QStringLiteral("ZoVeva test signal"))) },
        { "ZoVeva capture with a long", InvalidId }, // neither whole nor cut at 31 bytes
        { "", InvalidId },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TMMWaveIn::DeviceIdOf(QString::fromUtf8(c.name), alsa), c.device) << c.name;
        TMMWaveIn w(alsa);
        EXPECT_EQ(w.SelectDevice(QString::fromUtf8(c.name)), c.device != InvalidId) << c.name;
        if (c.device != InvalidId) {
            EXPECT_EQ(w.FullProductName(), names[c.device]) << c.name;
        }
    }
}

// With libasound2-plugins, as on most desktops, the JACK PCM is listed whether or not a JACK server
// runs. Using it without one fails, and the JACK client library's complaints do not reach stderr
// (the encoder's log).
TEST(AlsaCapture, JackPcmWithoutItsServerStaysOffStandardError)
{
    test::App();
    zv::WaveInOps& alsa = zv::AlsaWaveIn();
    const TMMDeviceId jack = TMMWaveIn::DeviceIdOf("JACK Audio Connection Kit", alsa);
    if (jack == InvalidId)
        GTEST_SKIP() << "no JACK PCM here (libasound2-plugins is not installed)";

    QTemporaryDir dir;
    const QString captured = dir.filePath("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    ASSERT_TRUE(std::freopen(captured.toLocal8Bit().constData(), "w", stderr));
    {
        TWaveInCaps caps {};
        alsa.GetDevCaps(jack, caps);
        TMMWaveIn w(alsa);
        w.SetMode(mStereo);
        w.SetBitLength(b16Bit);
        w.SetSampleRate(44100);
        w.SetDeviceID(jack);
        try {
            w.Start();
            w.Close(); // a JACK server runs here
        } catch (const EMMWaveInError&) {
        }
    }
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    QFile text(captured);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QString written = QString::fromLocal8Bit(text.readAll());
    // What the client library prints without its server. (The ALSA plug-in itself may warn that a
    // long program name was cut to make the JACK client's name: not so for the system's programs.)
    for (const char* line :
        { "jack server is not running", "Cannot connect to server", "JackShmReadWritePtr" })
        EXPECT_FALSE(written.contains(QLatin1String(line))) << written.toStdString();
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
