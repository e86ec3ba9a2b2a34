// The client's proxy and real zoveva-encoder processes: requests, failures with the encoder's own
// message, dead and hung processes, and no process left behind.
#include "EncodingFiles.h"
#include "station/EncoderProcess.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Whether the process still runs. A process that has ended but is not reaped yet (a zombie) has
// ended: reaping it is the proxy's job, whose log line the tests read.
bool Exists(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray text = stat.readAll();
    const auto close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

bool GoneWithin(pid_t pid, std::chrono::milliseconds bound)
{
    return zv::test::WaitUntil([&] { return !Exists(pid); }, bound);
}

class EncoderProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Orphans of a killed stub client come to us, so their end can be seen and reaped.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    void SetUp() override
    {
        options_.executable = qEnvironmentVariable("ZOVEVA_BIN_DIR").toStdString() + "/zoveva-encoder";
        options_.logFile = dir_.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    }

    QString Log() const
    {
        QFile file(QString::fromStdString(options_.logFile.string()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Creates an application object the way the controller does; the process id comes out too.
    std::shared_ptr<IEncoderApp> Create(pid_t* pid)
    {
        zv::TEncoderProcessFactory factory(options_);
        std::shared_ptr<IEncoderApp> app;
        CheckResult(factory.Create(app), "create");
        *pid = static_cast<zv::TEncoderProcessApp&>(*app).Process().Pid();
        return app;
    }

    static std::shared_ptr<IEncoder> Encoder(IEncoderApp& app)
    {
        std::shared_ptr<IEncoder> encoder;
        CheckResult(app.GetEncoder(encoder), "get encoder");
        return encoder;
    }

    QString File(const QString& name, const QByteArray& content)
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    QTemporaryDir dir_;
    zv::EncoderProcessOptions options_;
};

QByteArray EncodingFile(const QString& broadcast, const QString& profile)
{
    return QStringLiteral(
        R"(<Encoding><Description Title="t"/><SourceGroups><SourceGroup><Source InputSource="x"/></SourceGroup></SourceGroups>%1<Profile><![CDATA[%2]]></Profile></Encoding>)")
        .arg(broadcast, profile)
        .toUtf8();
}

} // namespace

// Each bad file fails the load with the encoder's message in the raised error; releasing the
// object then ends its process.
TEST_F(EncoderProcessTest, ABadEncodingFileFailsTheLoadWithItsReasonAndLeavesNoProcess)
{
    const QString ok
        = QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="s"/>)");
    const QString profile = QStringLiteral(R"(<a bitrate="32000" nSamplesPerSec="32000"/>)");
    const struct {
        const char* name;
        QByteArray content;
        const char* expected;
    } cases[] = {
        { "missing.xml", {}, "cannot be read" },
        { "malformed.xml", "<Encoding><Broadcast", "not well-formed" },
        { "nodes.xml", "<Encoding><Description/></Encoding>", "SourceGroups is missing" },
        { "bitrate.xml", EncodingFile(ok, QStringLiteral(R"(<a bitrate="44100" nSamplesPerSec="32000"/>)")),
            "unknown bitrate \"44100\"" },
        { "port.xml",
            EncodingFile(QStringLiteral(
                             R"(<Broadcast PublishServer="h:oito" PublishingPoint="p" SourcePassword="s"/>)"),
                profile),
            "invalid port \"oito\"" },
        { "point.xml",
            EncodingFile(
                QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="" SourcePassword="s"/>)"),
                profile),
            "publishing point" },
        { "device.xml", EncodingFile(ok, profile), "Unknown input device \"x\"" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.content.isNull() ? dir_.filePath(QString::fromLatin1(c.name))
                                                : File(QString::fromLatin1(c.name), c.content);
        pid_t pid = 0;
        auto app = Create(&pid);
        try {
            CheckResult(Encoder(*app)->Load(path), "Load");
            ADD_FAILURE() << "the load succeeded";
        } catch (const EEncoderError& error) {
            EXPECT_TRUE(error.Message().contains(QString::fromUtf8(c.expected))) << error.what();
            if (QByteArray(c.name) != "device.xml") {
                EXPECT_EQ(error.Code(), E_ENCODING_FILE) << error.what();
            }
        }
        // The encoder survives a refused file: it still answers.
        std::int32_t state = 0;
        EXPECT_EQ(Encoder(*app)->GetRunState(state), S_OK);
        EXPECT_EQ(state, EncoderRunState::Stopped);
        app.reset();
        EXPECT_TRUE(GoneWithin(pid, 8s));
    }
    // Each release is seen out and logged by the proxy's helper thread.
    zv::test::WaitUntil([&] { return Log().count(QStringLiteral("released: exit code 0")) >= 7; }, 3s);
    EXPECT_EQ(Log().count(QStringLiteral("released: exit code 0")), 7) << Log().toStdString();
}

TEST_F(EncoderProcessTest, AMissingExecutableFailsTheCreationWithItsPath)
{
    options_.executable = dir_.filePath(QStringLiteral("nao-existe")).toStdString();
    zv::TEncoderProcessFactory factory(options_);
    std::shared_ptr<IEncoderApp> app;
    try {
        CheckResult(factory.Create(app), "Create");
        FAIL() << "created";
    } catch (const EEncoderError& error) {
        EXPECT_EQ(error.Code(), E_ENCODER_NOT_STARTED);
        EXPECT_TRUE(error.Message().contains(QStringLiteral("nao-existe"))) << error.what();
    }
    EXPECT_FALSE(app);
}

// A crashed encoder, and one that stops answering, read as stopped (so the supervision restarts
// it) instead of failing every poll; the log tells the operator how each one ended.
TEST_F(EncoderProcessTest, ADeadOrHungEncoderReadsAsStoppedAndItsEndIsLogged)
{
    pid_t crashed = 0;
    auto app = Create(&crashed);
    std::int32_t state = 0;
    ASSERT_EQ(Encoder(*app)->GetRunState(state), S_OK);
    kill(crashed, SIGKILL);
    ASSERT_TRUE(GoneWithin(crashed, 5s));
    state = 0;
    EXPECT_EQ(Encoder(*app)->GetRunState(state), S_OK);
    EXPECT_EQ(state, EncoderRunState::Stopped);
    EXPECT_EQ(Encoder(*app)->AcknowledgeStopped(), S_OK);
    EXPECT_EQ(Encoder(*app)->Stop(), S_OK);
    EXPECT_EQ(Encoder(*app)->Start(), E_ENCODER_GONE);
    EXPECT_TRUE(Log().contains(QStringLiteral("encoder process %1 ended: killed by signal 9").arg(crashed)))
        << Log().toStdString();
    app.reset();

    options_.callTimeout = 1s;
    pid_t hung = 0;
    app = Create(&hung);
    kill(hung, SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    state = 0;
    EXPECT_EQ(Encoder(*app)->GetRunState(state), S_OK);
    EXPECT_EQ(state, EncoderRunState::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(Exists(hung));
    EXPECT_TRUE(Log().contains(QStringLiteral("did not answer within 1 s"))) << Log().toStdString();
}

// The client killed outright: the encoder ends with it (parent-death signal, end of the socket).
TEST_F(EncoderProcessTest, AKilledClientLeavesNoEncoderBehind)
{
    const QString stub
        = qEnvironmentVariable("ZOVEVA_BIN_DIR") + QStringLiteral("/../tests/zoveva-e2e-encoder-client-stub");
    const QString command = QStringLiteral("'%1' '%2' '%3'")
                                .arg(stub, QString::fromStdString(options_.executable.string()),
                                    QString::fromStdString(options_.logFile.string()));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t client = fork();
    if (client == 0) {
        dup2(fds[1], 1);
        execl("/bin/sh", "sh", "-c", ("exec " + command.toStdString()).c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    char buffer[32] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    ASSERT_GT(n, 0);
    const pid_t encoder = static_cast<pid_t>(std::atoi(buffer));
    ASSERT_GT(encoder, 0);
    std::this_thread::sleep_for(300ms); // while its client lives, the encoder stays
    ASSERT_TRUE(Exists(encoder));

    kill(client, SIGKILL);
    int status = 0;
    waitpid(client, &status, 0);
    EXPECT_TRUE(GoneWithin(encoder, 6s));
    waitpid(encoder, &status, WNOHANG); // an orphan of ours now (subreaper)
    // It closed its stream and ended on its own, not by a kill.
    EXPECT_TRUE(Log().contains(QStringLiteral("zoveva-encoder[%1]: ended").arg(encoder)))
        << Log().toStdString();
}
