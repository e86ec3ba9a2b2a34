// The real zoveva-encoder on ALSA: the machine's own configuration with the test PCMs of
// tests/fixtures/alsa added, so the plug-in PCMs of libasound2-plugins (JACK, PulseAudio, ...) are
// listed as on a desktop, with no sound server running. Its device list and its log stay free of
// the plug-in libraries' complaints.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "station/EncoderProcess.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// What the JACK client library prints when its server is absent.
const char* const kJackNoise[]
    = { "jack server is not running", "Cannot connect to server", "JackShmReadWritePtr" };

bool HasJackNoise(const QString& text)
{
    for (const char* line : kJackNoise)
        if (text.contains(QLatin1String(line)))
            return true;
    return false;
}

class EncoderAlsaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        QFile signal(dir_.filePath(QStringLiteral("signal.raw")));
        ASSERT_TRUE(signal.open(QIODevice::WriteOnly));
        signal.write(QByteArray(32000 * 4 * 4, '\0'));
        signal.close();
        // The encoder processes inherit these; none of them is a synthetic binding.
        setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" ZOVEVA_ALSA_TEST_CONF, 1);
        setenv("ZOVEVA_TEST_SIGNAL", signal.fileName().toLocal8Bit().constData(), 1);
        setenv("ZOVEVA_TEST_TRACE", signal.fileName().toLocal8Bit().constData(), 1);
        unsetenv("ZOVEVA_WAVEIN");
        executable_ = qEnvironmentVariable("ZOVEVA_BIN_DIR") + QStringLiteral("/zoveva-encoder");
    }

    QStringList ListDevices(QString* errors)
    {
        QProcess process;
        process.start(executable_, { QStringLiteral("--list-devices") });
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0);
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
        return QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir_;
    QString executable_;
};

TEST_F(EncoderAlsaTest, ListingPrintsTheNamesAndNothingElse)
{
    QString errors;
    const QStringList names = ListDevices(&errors);
    EXPECT_TRUE(names.contains(QStringLiteral("ZoVeva test signal"))) << names.join(", ").toStdString();
    EXPECT_EQ(errors.toStdString(), "");
}

// As the client starts it: the encoder finds its device by name among all of them, opens that one
// and fails to connect (nobody listens on the port). Starting on the JACK PCM without a JACK server
// fails at the capture, with the encoder's own message. The log holds the encoder's lines only.
TEST_F(EncoderAlsaTest, AStartLogsNoPlugInLibraryNoise)
{
    QString errors;
    const bool jack = ListDevices(&errors).contains(QStringLiteral("JACK Audio Connection Kit"));
    const quint16 closedPort = zv::test::IcecastServer::FreePort(QStringLiteral("127.0.0.1"));
    const struct {
        const char* device;
        bool starts;
    } cases[] = { { "ZoVeva test signal", true }, { "JACK Audio Connection Kit", false } };
    for (const auto& c : cases) {
        if (!c.starts && !jack) {
            std::printf("no JACK PCM here (libasound2-plugins is not installed): case skipped\n");
            continue;
        }
        const QString log = dir_.filePath(QStringLiteral("zoveva-encoder-%1.log").arg(c.starts));
        zv::EncoderProcessOptions options;
        options.executable = executable_.toStdString();
        options.logFile = log.toStdString();
        const QString file
            = zv::test::WriteEncodingFile(dir_.path(), QStringLiteral("alsa"), QString::fromLatin1(c.device),
                QStringLiteral("127.0.0.1:%1").arg(closedPort), QStringLiteral("x"));
        {
            zv::TEncoderProcessFactory factory(options);
            std::shared_ptr<IEncoderApp> app;
            CheckResult(factory.Create(app), "create");
            std::shared_ptr<IEncoder> encoder;
            CheckResult(app->GetEncoder(encoder), "get encoder");
            CheckResult(encoder->Load(file), "load");
            EXPECT_EQ(Succeeded(encoder->Start()), c.starts) << c.device;
            std::int32_t state = 0;
            zv::test::WaitUntil(
                [&] { return !Succeeded(encoder->GetRunState(state)) || state == 5; }, 5s, 50ms);
            EXPECT_EQ(state, 5) << c.device;
        }
        QFile text(log);
        ASSERT_TRUE(text.open(QIODevice::ReadOnly)) << log.toStdString();
        const QString written = QString::fromUtf8(text.readAll());
        EXPECT_FALSE(HasJackNoise(written)) << c.device << ":\n" << written.toStdString();
        if (c.starts) {
            EXPECT_TRUE(written.contains(QLatin1String("state 5"))) << written.toStdString();
        }
    }
}

} // namespace

namespace {

// An unknown input device: the encoder's message lists the devices there are, under their whole
// names; the names a device is chosen by are cut to 31 bytes, and two cut names may read alike.
TEST_F(EncoderAlsaTest, UnknownDeviceListsTheDevicesUnderTheirWholeNames)
{
    const QString whole = QStringLiteral("ZoVeva test input whose name runs past thirty-one bytes");
    QFile conf(dir_.filePath(QStringLiteral("long-name.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("pcm.zoveva_long_name {\n    type file\n    slave.pcm \"null\"\n    file \"/dev/null\"\n"
               "    infile \"/nonexistent/zoveva-long-name.raw\"\n    format \"raw\"\n"
               "    hint {\n        show on\n        description \""
        + whole.toUtf8() + "\"\n    }\n}\n");
    conf.close();
    setenv("ALSA_CONFIG_PATH",
        ("/usr/share/alsa/alsa.conf:" ZOVEVA_ALSA_TEST_CONF ":" + conf.fileName()).toLocal8Bit().constData(),
        1);

    zv::EncoderProcessOptions options;
    options.executable = executable_.toStdString();
    options.logFile = dir_.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    const QString file = zv::test::WriteEncodingFile(dir_.path(), QStringLiteral("unknown"),
        QStringLiteral("no such device"), QStringLiteral("127.0.0.1:9"), QStringLiteral("x"));
    zv::TEncoderProcessFactory factory(options);
    std::shared_ptr<IEncoderApp> app;
    CheckResult(factory.Create(app), "create");
    std::shared_ptr<IEncoder> encoder;
    CheckResult(app->GetEncoder(encoder), "get encoder");
    try {
        CheckResult(encoder->Load(file), "Load");
        FAIL() << "an unknown device was loaded";
    } catch (const EEncoderError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Load: Unknown input device \"no such device\"")))
            << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(u'"' + whole + u'"')) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("\"ZoVeva test signal\"")));
    }
}

} // namespace
