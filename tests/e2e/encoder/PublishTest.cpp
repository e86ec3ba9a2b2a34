// The real zoveva-encoder, driven through the client's proxy, capturing the synthetic 1 kHz tone and
// publishing to private Icecast servers on loopback; listeners decode what arrives.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "StreamCheck.h"
#include "platform/Ansi.h"
#include "platform/Clock.h"
#include "station/EncoderProcess.h"
#include "station/Messages.h"
#include "station/StationController.h"
#include "tests/support/StationDoubles.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;
using zv::test::IcecastServer;

namespace {

const QString kTone = QStringLiteral("Synthetic tone 1 kHz");

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        options_.executable = qEnvironmentVariable("ZOVEVA_BIN_DIR").toStdString() + "/zoveva-encoder";
        options_.logFile = dir_.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
        QString error;
        ASSERT_TRUE(server_.Start(&error)) << error.toStdString();
    }

    QString Server() const { return QStringLiteral("%1:%2").arg(server_.Address()).arg(server_.Port()); }

    QString File(const QString& user, int bitrateCode = 32000, const QString& server = {},
        const QString& password = {})
    {
        return zv::test::WriteEncodingFile(dir_.path(), user, kTone, server.isEmpty() ? Server() : server,
            password.isEmpty() ? server_.Password() : password, bitrateCode);
    }

    // Creates, loads and starts, as the controller's start does.
    std::shared_ptr<IEncoderApp> Start(const QString& file)
    {
        zv::TEncoderProcessFactory factory(options_);
        std::shared_ptr<IEncoderApp> app;
        CheckResult(factory.Create(app), "create");
        CheckResult(Encoder(*app)->Load(file), "load");
        CheckResult(Encoder(*app)->Start(), "start");
        return app;
    }

    static std::shared_ptr<IEncoder> Encoder(IEncoderApp& app)
    {
        std::shared_ptr<IEncoder> encoder;
        CheckResult(app.GetEncoder(encoder), "get encoder");
        return encoder;
    }

    static std::int32_t State(IEncoderApp& app)
    {
        std::int32_t state = 0;
        CheckResult(Encoder(app)->GetRunState(state), "run state");
        return state;
    }

    // Polls as the client does (only faster) until the state is reached or the bound passes; the time it
    // took.
    static std::chrono::milliseconds Until(
        IEncoderApp& app, std::int32_t state, std::chrono::milliseconds bound)
    {
        const auto start = std::chrono::steady_clock::now();
        zv::test::WaitUntil([&] { return State(app) == state; }, bound);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }

    QString Log() const
    {
        QFile file(QString::fromStdString(options_.logFile.string()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The run states the encoder process logged, in order.
    std::vector<int> LoggedStates() const
    {
        std::vector<int> states;
        static const QRegularExpression line(QStringLiteral("zoveva-encoder\\[\\d+\\]: state (\\d)"));
        for (auto it = line.globalMatch(Log()); it.hasNext();) {
            states.push_back(it.next().captured(1).toInt());
        }
        return states;
    }

    QTemporaryDir dir_;
    zv::EncoderProcessOptions options_;
    IcecastServer server_;
};

} // namespace

TEST_F(PublishTest, EachProfileRowReachesAListenerAsTheToneAtItsBitrateAndRate)
{
    const struct {
        int code;
        int kbps;
        int rate;
    } rows[] = { { 32000, 32, 32000 }, { 64008, 64, 48000 }, { 96000, 96, 48000 }, { 128016, 128, 48000 } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        const QString user = QStringLiteral("perfil%1").arg(row.code);
        auto app = Start(File(user, row.code));
        EXPECT_EQ(State(*app), EncoderRunState::Starting);
        Until(*app, EncoderRunState::Running, 5s);
        ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();
        ASSERT_TRUE(server_.WaitForSource(u'/' + user, 5));

        const auto decoded = zv::test::Decode(server_.Listen(u'/' + user, 3));
        ASSERT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
        EXPECT_EQ(decoded.codec, QStringLiteral("mp3"));
        EXPECT_EQ(decoded.sampleRate, row.rate);
        EXPECT_EQ(decoded.bitRate, row.kbps * 1000);
        EXPECT_GT(decoded.seconds, 1.5);
        EXPECT_NEAR(decoded.frequency, 1000, 15);

        CheckResult(Encoder(*app)->Stop(), "stop");
        Until(*app, EncoderRunState::Stopped, 5s);
        EXPECT_EQ(State(*app), EncoderRunState::Stopped);
        EXPECT_EQ(Encoder(*app)->AcknowledgeStopped(), S_OK);
        app.reset();
        EXPECT_EQ(LoggedStates(), (std::vector<int> { 1, 2, 4, 5 })) << Log().toStdString();
        QFile::remove(QString::fromStdString(options_.logFile.string()));
    }
}

// Bounds: nothing listening ends the start within 2 s; a server killed while we publish is noticed
// within 2 s.
TEST_F(PublishTest, AnAbsentOrKilledServerEndsInStateFiveQuickly)
{
    auto absent = Start(File(QStringLiteral("ausente"), 32000,
        QStringLiteral("%1:%2").arg(server_.Address()).arg(IcecastServer::FreePort(server_.Address()))));
    EXPECT_LT(Until(*absent, EncoderRunState::Stopped, 10s), 2s);
    EXPECT_TRUE(Log().contains(QStringLiteral("Cannot connect to the server"))) << Log().toStdString();
    absent.reset();

    auto app = Start(File(QStringLiteral("morre"), 64008));
    Until(*app, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();
    std::this_thread::sleep_for(1s); // publishing a while, so that the loss is one of a running stream
    server_.Kill();
    EXPECT_LT(Until(*app, EncoderRunState::Stopped, 10s), 2s);
    EXPECT_TRUE(Log().contains(QStringLiteral("Lost the connection to the server"))) << Log().toStdString();
}

// The server's refusals leave a readable reason in the encoder's log, which the operator reads, and
// the client can ask for it; a wrong password and a publishing point in use are told apart.
TEST_F(PublishTest, ARefusedSourceEndsInStateFiveWithItsReasonInTheLog)
{
    const auto reason = [](IEncoderApp& app) {
        QString text;
        CheckResult(Encoder(app)->GetStopReason(text), "stop reason");
        return text;
    };
    auto wrong = Start(File(QStringLiteral("senha"), 32000, {}, QStringLiteral("errada")));
    EXPECT_LT(Until(*wrong, EncoderRunState::Stopped, 10s), 2s);
    const QString wrongPassword
        = QStringLiteral("The server refused the source: wrong source user or password (server %1, "
                         "publishing point /senha)")
              .arg(Server());
    EXPECT_TRUE(Log().contains(wrongPassword)) << Log().toStdString();
    EXPECT_EQ(reason(*wrong).toStdString(), wrongPassword.toStdString());

    auto first = Start(File(QStringLiteral("ocupado")));
    Until(*first, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*first), EncoderRunState::Running);
    EXPECT_EQ(reason(*first), QString()) << "no reason while on the air";
    auto second = Start(File(QStringLiteral("ocupado")));
    EXPECT_LT(Until(*second, EncoderRunState::Stopped, 10s), 2s);
    const QString inUse
        = QStringLiteral("The server refused the source: the publishing point is already in use "
                         "(server %1, publishing point /ocupado)")
              .arg(Server());
    EXPECT_TRUE(Log().contains(inUse)) << Log().toStdString();
    EXPECT_EQ(reason(*second).toStdString(), inUse.toStdString());
    EXPECT_EQ(State(*first), EncoderRunState::Running);
    // Icecast lists a source once its data flows, which may be a moment after it was accepted.
    EXPECT_TRUE(server_.WaitForSource(QStringLiteral("/ocupado"), 5));
}

// The stream's name, genre and description reach the server's status page as written (Icecast reads
// them as ISO-8859-1, the way they are sent); what ISO-8859-1 lacks arrives as its nearest Latin-1
// text, not as "?".
TEST_F(PublishTest, StreamDetailsReachTheServerReadable)
{
    const QString punctuated = File(QStringLiteral("pontuacao"));
    {
        QFile file(punctuated);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString xml = QString::fromUtf8(file.readAll());
        file.close();
        xml.replace(QStringLiteral("Title=\"R\u00e1dio de Teste\""),
            QStringLiteral("Title=\"R\u00e1dio \u201cVoz\u201d \u2013 5 \u20ac\u2026\""));
        xml.replace(
            QStringLiteral("Genre=\"Variedades\""), QStringLiteral("Genre=\"Pop\u2122 \u2018Br\u2019\""));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(xml.toUtf8());
    }
    const struct {
        QString mount;
        QString file;
        const char* name;
        const char* genre;
    } cases[] = {
        { QStringLiteral("/detalhes"), File(QStringLiteral("detalhes")), "Rádio de Teste", "Variedades" },
        { QStringLiteral("/pontuacao"), punctuated, "Rádio \"Voz\" - 5 EUR...", "PopTM 'Br'" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mount.toStdString());
        auto app = Start(c.file);
        Until(*app, EncoderRunState::Running, 5s);
        ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();
        ASSERT_TRUE(server_.WaitForSource(c.mount, 5));
        // One source is an object on the status page, several an array.
        const QJsonValue sources = server_.Status().value(QStringLiteral("source"));
        QJsonObject source;
        for (const QJsonValue& one : sources.isArray() ? sources.toArray() : QJsonArray { sources }) {
            if (one.toObject().value(QStringLiteral("listenurl")).toString().endsWith(c.mount)) {
                source = one.toObject();
            }
        }
        EXPECT_EQ(source.value(QStringLiteral("server_name")).toString().toStdString(), c.name);
        EXPECT_EQ(source.value(QStringLiteral("genre")).toString().toStdString(), c.genre);
        EXPECT_EQ(source.value(QStringLiteral("server_description")).toString().toStdString(),
            "Transmissão ao vivo");
    }
}

// A server that takes the connection and never answers, and one that stops reading while we publish,
// must not hold the encoder in state 1 or 2: the connect bound (10 s) and the status probe (every
// 10 s, 10 s to answer: at most 20 s) end them, at the lowest bitrate too.
TEST_F(PublishTest, AServerThatGoesSilentIsGivenUpWithinItsBound)
{
    const int mute = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in in {};
    in.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &in.sin_addr);
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
    ASSERT_EQ(listen(mute, 4), 0); // the kernel completes the handshake; nobody ever answers
    socklen_t length = sizeof in;
    getsockname(mute, reinterpret_cast<sockaddr*>(&in), &length);
    auto waiting
        = Start(File(QStringLiteral("mudo"), 32000, QStringLiteral("127.0.0.1:%1").arg(ntohs(in.sin_port))));
    const auto connectTime = Until(*waiting, EncoderRunState::Stopped, 20s);
    EXPECT_GE(connectTime, 9s);
    EXPECT_LT(connectTime, 12s);
    EXPECT_TRUE(Log().contains(QStringLiteral("did not accept the source within 10 s")))
        << Log().toStdString();
    close(mute);
    waiting.reset();

    auto frozen = Start(File(QStringLiteral("congelado"), 32000));
    Until(*frozen, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*frozen), EncoderRunState::Running);
    std::this_thread::sleep_for(2s); // publishing a while, so that the stall is one of a running stream
    server_.Freeze();
    const auto stallTime = Until(*frozen, EncoderRunState::Stopped, 40s);
    server_.Thaw();
    std::printf("frozen server given up after %.1f s\n", stallTime.count() / 1000.0);
    EXPECT_EQ(State(*frozen), EncoderRunState::Stopped);
    EXPECT_LE(stallTime, 21s);
    EXPECT_TRUE(Log().contains(QStringLiteral("The server stopped answering"))) << Log().toStdString();
}

// Headless use: `zoveva-encoder FILE` streams until interrupted and prints its states.
TEST_F(PublishTest, RunsAloneFromATerminalUntilInterrupted)
{
    const auto run = [&](const QString& file, const QString& output) {
        const QByteArray program = QString::fromStdString(options_.executable.string()).toLocal8Bit();
        const QByteArray path = file.toLocal8Bit();
        const QByteArray out = output.toLocal8Bit();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        char* argv[]
            = { const_cast<char*>(program.constData()), const_cast<char*>(path.constData()), nullptr };
        pid_t pid = -1;
        posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    };
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString output = dir_.filePath(QStringLiteral("terminal.txt"));

    const pid_t pid = run(File(QStringLiteral("terminal"), 96000), output);
    ASSERT_GT(pid, 0);
    zv::test::WaitUntil([&] { return read(output).contains(QStringLiteral("state 2 (running)")); }, 5s, 50ms);
    EXPECT_TRUE(server_.WaitForSource(QStringLiteral("/terminal"), 5)) << read(output).toStdString();
    kill(pid, SIGINT);
    int status = -1;
    zv::test::WaitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, 5s, 50ms);
    if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "did not end after the interrupt: " << read(output).toStdString();
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const QString printed = read(output);
    for (const char* line :
        { "state 1 (starting)", "state 2 (running)", "state 4 (stopping)", "state 5 (stopped)" }) {
        EXPECT_TRUE(printed.contains(QString::fromLatin1(line))) << line << "\n" << printed.toStdString();
    }

    // A file it cannot use: a message and exit code 3, no stream.
    const QString bad = dir_.filePath(QStringLiteral("ruim.xml"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<Encoding/>");
    file.close();
    const pid_t refused = run(bad, output);
    waitpid(refused, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_TRUE(read(output).contains(QStringLiteral("the element Description is missing")))
        << read(output).toStdString();
}

namespace {

struct QuietWindow final : IStationWindow {
    QString Caption(const QString& labelName) const override { return BuiltInCaption(labelName); }
    void SetStatus(const QString&, TRgb) override { }
    void ShowSettingsModal() override { }
    void RequestTermination() override { }
    void ProcessPendingEvents() override { }
};

} // namespace

// The operator reads why the station is off the air in ZoVeva.log: the controller over real encoder
// processes, refused by a real server for a wrong password and then for a publishing point in use, writes
// each reason once, not with every restart.
TEST_F(PublishTest, RefusalReasonsReachTheEventLogOncePerChange)
{
    QTemporaryDir folder;
    const QString bin = qEnvironmentVariable("ZOVEVA_BIN_DIR");
    QFile templ(bin + QStringLiteral("/padrao.xml"));
    ASSERT_TRUE(templ.open(QIODevice::ReadOnly));
    const QByteArray wrongPassword = templ.readAll().replace(
        "PublishPort=\"8000\"", "PublishPort=\"" + QByteArray::number(server_.Port()) + '"');
    for (const char* name : { "padrao.xml", "radio1.xml" }) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(wrongPassword);
    }
    QFile config(folder.filePath(QStringLiteral("cfg.ini")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    // The publish server ServerDefault.Servidor is the loopback address itself.
    config.write("[Geral]\r\nUsuario=radio1\r\nKbps=32000\r\nServidor=0.0.1\r\nServerDefault=127\r\n");
    config.close();
    qputenv("ZOVEVA_ENCODER_DIR", bin.toLocal8Bit());

    zv::VirtualClock clock;
    zv::TEncoderProcessFactory factory(options_);
    zv::test::RecordedBoxes boxes;
    QuietWindow window;
    zv::test::FixedFields fields { QStringLiteral("R\u00e1dio de Ensaio"), kTone };
    auto station
        = std::make_unique<TStationController>(folder.path().toStdString(), clock, factory, boxes, window);
    station->SetSettingsFields(&fields);
    station->Create();
    // Polls every (virtual) second while real time passes, until a poll has seen the encoder stopped.
    const auto pollUntilStopped = [&] {
        return zv::test::WaitUntil(
            [&] {
                clock.Advance(1000);
                return station->RunState() == EncoderRunState::Stopped;
            },
            5s, 100ms);
    };
    const auto eventLog = [&] {
        QFile file(folder.filePath(QStringLiteral("ZoVeva.log")));
        return file.open(QIODevice::ReadOnly) ? zv::FromAnsi(file.readAll()) : QString();
    };
    const QString where
        = QStringLiteral("(server 127.0.0.1:%1, publishing point /radio1)").arg(server_.Port());

    clock.Advance(100); // the first start
    ASSERT_TRUE(pollUntilStopped()) << Log().toStdString();
    EXPECT_TRUE(eventLog().contains(
        QStringLiteral("A\u00e7\u00e3o.................: Erro\r\nDescri\u00e7\u00e3o............: O Encoder "
                       "parou: The server refused the source: wrong source user or password %1\r\n"
                       "Processo.............: TimerStatus\r\n")
            .arg(where)))
        << eventLog().toStdString();
    clock.Advance(10000 - clock.NowMs()); // the restart: refused again, nothing new to say
    ASSERT_TRUE(pollUntilStopped());
    EXPECT_EQ(eventLog().count(QStringLiteral("O Encoder parou")), 1) << eventLog().toStdString();

    // Someone else publishes on radio1, and the user's file gets the right password.
    auto other = Start(File(QStringLiteral("radio1")));
    Until(*other, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*other), EncoderRunState::Running);
    QFile user(folder.filePath(QStringLiteral("radio1.xml")));
    ASSERT_TRUE(user.open(QIODevice::ReadWrite));
    const QByteArray fixed = user.readAll().replace("trocar-esta-senha", server_.Password().toUtf8());
    user.resize(0);
    user.write(fixed);
    user.close();
    clock.Advance(20000 - clock.NowMs());
    ASSERT_TRUE(pollUntilStopped());
    EXPECT_TRUE(eventLog().contains(QStringLiteral(
        "O Encoder parou: The server refused the source: the publishing point is already in use %1")
                                        .arg(where)))
        << eventLog().toStdString();
    EXPECT_EQ(eventLog().count(QStringLiteral("O Encoder parou")), 2) << eventLog().toStdString();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().toStdString();
    station.reset();
}
