#include "station/StationController.h"

#include "platform/ProfileFile.h"
#include "station/EncodingFile.h"
#include "station/Messages.h"
#include "tests/support/ScriptedEncoder.h"
#include "tests/support/StationDoubles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using zv::test::EncoderScript;
using zv::test::FakeFactory;

struct FakeWindow final : IStationWindow {
    QString status;
    TRgb colour;
    int statusSets = 0;
    int settingsShown = 0;
    int terminations = 0;
    QString Caption(const QString& labelName) const override { return BuiltInCaption(labelName); }
    void SetStatus(const QString& text, TRgb c) override
    {
        status = text;
        colour = c;
        ++statusSets;
    }
    void ShowSettingsModal() override { ++settingsShown; }
    void RequestTermination() override { ++terminations; }
    void ProcessPendingEvents() override { }
    void SetStatusDetails(const QString& text) override { details = text; }
    void DeadAirChanged(bool silent, const QString& message, double silentSeconds) override
    {
        deadAir.emplace_back(silent, message);
        deadAirSeconds.push_back(silentSeconds);
    }
    QString details;
    std::vector<std::pair<bool, QString>> deadAir;
    std::vector<double> deadAirSeconds;
};

constexpr TRgb kYellow { 255, 255, 0 };
constexpr TRgb kLime { 0, 255, 0 };
constexpr TRgb kRed { 255, 0, 0 };

class StationControllerTest : public ::testing::Test {
protected:
    StationControllerTest()
    {
        ::unsetenv("ZOVEVA_ENCODER_DIR");
        QFile::copy(QStringLiteral(ZOVEVA_TEMPLATE), Path("padrao.xml"));
        Write("zoveva-encoder", "");
    }

    QString Path(const QString& name) const { return dir.filePath(name); }
    void Write(const QString& name, const QByteArray& bytes)
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray Read(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A station whose user "maria" already has an encoding file.
    void Configure(const QByteArray& extra = {})
    {
        Write("cfg.ini",
            "[Geral]\r\nUsuario=maria\r\nKbps=32000\r\nServidor=varekradio.net.br\r\nServerDefault=ns1\r\n"
                + extra);
        QFile::copy(Path("padrao.xml"), Path("maria.xml"));
    }
    // Creates the controller as the main window does.
    TStationController& Start()
    {
        station
            = std::make_unique<TStationController>(dir.path().toStdString(), clock, factory, boxes, window);
        station->SetSettingsFields(&fields);
        station->Create();
        return *station;
    }
    int LogEntries() const { return static_cast<int>(Read("ZoVeva.log").count("Data/Hora")); }
    QString PublishServer() const
    {
        return LoadEncodingFile(Path("maria.xml"))
            .documentElement()
            .firstChildElement("Broadcast")
            .attribute("PublishServer");
    }

    QTemporaryDir dir;
    EncoderScript script;
    FakeFactory factory { script };
    zv::test::RecordedBoxes boxes;
    FakeWindow window;
    zv::test::FixedFields fields { QStringLiteral("R\u00e1dio Teste"), QStringLiteral("Placa 1"),
        QStringLiteral("maria") };
    zv::VirtualClock clock;
    std::unique_ptr<TStationController> station;
};

} // namespace

// Where cfg.ini can be neither read nor made (here a folder that is not there, as a read-only one for
// root), the error is reported and the program goes on with what a new file would hold: empty values
// would make the first show, closing the settings window and the fail-over fail as not numbers.
TEST_F(StationControllerTest, ConfigurationThatCannotBeMadeIsReportedAndItsDefaultsUsed)
{
    const std::filesystem::path missing = std::filesystem::path(dir.path().toStdString()) / "nao-existe";
    TStationController s(missing, clock, factory, boxes, window);
    s.Create();
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_EQ(boxes.errors[0],
        QStringLiteral("Unable to write to ") + QString::fromStdString((missing / "cfg.ini").string()));
    for (const auto& [value, expected] : { std::pair { s.Settings().Controle, QStringLiteral("0") },
             std::pair { s.Settings().Placa, QStringLiteral("0") },
             std::pair { s.Settings().Kbps, QStringLiteral("32000") },
             std::pair { s.Settings().Servidor, QStringLiteral("varekradio.net.br") },
             std::pair { s.Settings().ServerDefault, QStringLiteral("ns1") } }) {
        EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(s.Settings().iIdioma, -1);
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");
}

TEST_F(StationControllerTest, FirstRunWithoutConfigurationGetsTheDefaultsAndAsksForSettings)
{
    TStationController& s = Start();
    EXPECT_EQ(s.Settings().Controle, "0");
    EXPECT_EQ(s.Settings().Usuario, "");
    EXPECT_EQ(s.Settings().Senha, "");
    EXPECT_EQ(s.Settings().Placa, "0");
    EXPECT_EQ(s.Settings().Radio, "");
    EXPECT_EQ(s.Settings().Kbps, "32000");
    EXPECT_EQ(s.Settings().Servidor, "varekradio.net.br");
    EXPECT_EQ(s.Settings().ServerDefault, "ns1");
    EXPECT_EQ(s.Settings().iIdioma, -1);
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");

    clock.Advance(100);
    EXPECT_EQ(boxes.messages,
        QStringList { QStringLiteral("Arquivo de codifica\u00e7\u00e3o n\u00e3o encontrado!") });
    EXPECT_EQ(window.settingsShown, 1);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(
        Read("ZoVeva.log")
            .contains("Descri\xe7\xe3o............: N\xe3o foi encontrado o arquivo de codifica\xe7\xe3o\r\n"
                      "Processo.............: FormCreate\r\n"));
    EXPECT_FALSE(s.TimerInicio->Enabled());
}

TEST_F(StationControllerTest, FirstStartRebuildsTheFileStartsTheEncoderAndLogsIt)
{
    Configure();
    script.states = { EncoderRunState::Starting };
    TStationController& s = Start();
    clock.Advance(99);
    EXPECT_TRUE(script.calls.empty());
    clock.Advance(1);
    EXPECT_EQ(script.calls,
        (std::vector<std::string> {
            "Create", "GetEncoder", "Load", "GetEncoder", "Start", "GetEncoder", "GetRunState" }));
    EXPECT_EQ(s.RunState(), EncoderRunState::Starting);
    EXPECT_TRUE(s.TimerStatus->Enabled());
    EXPECT_EQ(PublishServer(), "ns1.varekradio.net.br");
    const QByteArray log = Read("ZoVeva.log");
    EXPECT_TRUE(log.contains(
        "A\xe7\xe3o.................: Processo normal\r\nDescri\xe7\xe3o............: Foi executado o "
        "Encoder\r\nProcesso.............: VerificaEncoder\r\n"));
    EXPECT_EQ(LogEntries(), 1);
}

TEST_F(StationControllerTest, StatusTableForEachRunState)
{
    Configure();
    script.states = { EncoderRunState::Starting, 2, 3, 4, 6, 1, 5 };
    TStationController& s = Start();
    clock.Advance(100);
    const struct {
        int state;
        QString status;
        TRgb colour;
        bool connected;
        bool failOverOn;
        bool pollOn;
        int statusSets;
    } steps[] = {
        { 2, QStringLiteral("Conectado"), kLime, true, false, true, 1 },
        { 3, QStringLiteral("Conectado"), kLime, true, false, true, 1 },
        { 4, QStringLiteral("Desconectando..."), kYellow, false, false, true, 2 },
        { 6, QStringLiteral("Desconectando..."), kYellow, false, false, true, 2 },
        { 1, QStringLiteral("Conectando..."), kYellow, false, true, true, 3 },
        { 5, QStringLiteral("Desconectado"), kRed, false, true, false, 4 },
    };
    for (const auto& step : steps) {
        clock.Advance(1000);
        EXPECT_EQ(s.RunState(), step.state);
        EXPECT_EQ(window.status, step.status) << step.state;
        EXPECT_EQ(window.colour, step.colour) << step.state;
        EXPECT_EQ(s.Connected(), step.connected) << step.state;
        EXPECT_EQ(s.TimerVerificaServidor->Enabled(), step.failOverOn) << step.state;
        EXPECT_EQ(s.TimerStatus->Enabled(), step.pollOn) << step.state;
        EXPECT_EQ(window.statusSets, step.statusSets) << step.state;
    }
    EXPECT_EQ(script.Count("AcknowledgeStopped"), 1);
}

TEST_F(StationControllerTest, StoppedEncoderRestartsWithinTenSecondsAndFailOverKeepsItsPeriod)
{
    Configure();
    script.states = { 1, 1, 5 };
    TStationController& s = Start();
    clock.Advance(2100); // start at 100 reads 1, polls at 1100 (1) and 2100 (5)
    EXPECT_FALSE(s.TimerStatus->Enabled());
    EXPECT_EQ(script.Count("AcknowledgeStopped"), 1);
    const auto first = s.EncoderApp();

    script.states = { 1 };
    clock.Advance(7899);
    EXPECT_EQ(script.created, 1);
    clock.Advance(1); // 10000: the restart timer
    EXPECT_EQ(script.created, 2);
    EXPECT_NE(s.EncoderApp(), first);
    EXPECT_EQ(script.Count("Stop"), 0) << "the old encoder is released, not stopped";
    EXPECT_TRUE(s.TimerStatus->Enabled());
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");

    // The fail-over period started at creation; state 1 and 5 did not restart it.
    clock.Advance(49999);
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");
    clock.Advance(1);
    EXPECT_EQ(s.CurrentServer(), "ns2.varekradio.net.br");
    EXPECT_EQ(script.created, 3);
}

TEST_F(StationControllerTest, FailOverAlternatesMirrorsWhileNotConnected)
{
    const struct {
        const char* serverDefault;
        std::vector<QString> servers;
    } cases[] = {
        { "ns1", { "ns2.varekradio.net.br", "ns1.varekradio.net.br", "ns2.varekradio.net.br" } },
        { "ns3", { "ns1.varekradio.net.br", "ns2.varekradio.net.br", "ns1.varekradio.net.br" } },
    };
    for (const auto& c : cases) {
        Write("cfg.ini",
            QByteArray(
                "[Geral]\r\nUsuario=maria\r\nKbps=32000\r\nServidor=varekradio.net.br\r\nServerDefault=")
                + c.serverDefault + "\r\n");
        QFile::remove(Path("maria.xml"));
        script = {};
        script.lastState = EncoderRunState::Starting;
        TStationController& s = Start();
        EXPECT_EQ(s.CurrentServer(), QString::fromLatin1(c.serverDefault) + ".varekradio.net.br");
        for (size_t i = 0; i < c.servers.size(); ++i) {
            clock.Advance(60000);
            EXPECT_EQ(s.CurrentServer(), c.servers[i]) << c.serverDefault << " #" << i;
            EXPECT_EQ(PublishServer(), c.servers[i]) << c.serverDefault << " #" << i;
            EXPECT_EQ(script.created, static_cast<int>(i) + 1);
        }
        EXPECT_TRUE(boxes.errors.empty());
    }
}

TEST_F(StationControllerTest, WhilePublishingNeitherRestartNorFailOverActs)
{
    Configure();
    script.lastState = EncoderRunState::Running;
    TStationController& s = Start();
    clock.Advance(5 * 60000);
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(script.created, 1);
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");
    EXPECT_FALSE(s.TimerVerificaServidor->Enabled());
}

TEST_F(StationControllerTest, SaveAfterFailOverReturnsToTheDefaultServer)
{
    Configure();
    script.lastState = EncoderRunState::Starting;
    TStationController& s = Start();
    clock.Advance(60000);
    ASSERT_EQ(s.CurrentServer(), "ns2.varekradio.net.br");
    TDialogSettings values;
    values.Usuario = QStringLiteral("maria");
    values.Senha = QStringLiteral("segredo");
    values.Kbps = s.Settings().Kbps;
    values.iIdioma = 0;
    s.SaveSettings(values);
    EXPECT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");
    EXPECT_EQ(s.Settings().Senha, "segredo");
}

TEST_F(StationControllerTest, MissingEncoderExecutableIsReportedAndFailOverStartsItLater)
{
    Configure();
    QFile::remove(Path("zoveva-encoder"));
    script.lastState = EncoderRunState::Starting;
    Start();
    clock.Advance(100);
    EXPECT_EQ(boxes.messages, QStringList { QStringLiteral("Codificador n\u00e3o encontrado!") });
    EXPECT_TRUE(Read("ZoVeva.log")
                    .contains("A\xe7\xe3o.................: Erro\r\nDescri\xe7\xe3o............: N\xe3o foi "
                              "encontrado o codificador\r\nProcesso.............: FormCreate\r\n"));
    EXPECT_EQ(script.created, 0);
    clock.Advance(59900);
    EXPECT_EQ(script.created, 1);
}

TEST_F(StationControllerTest, MissingTemplateEndsTheRunWithItsMessageAndNoErrorBox)
{
    Write("cfg.ini",
        "[Geral]\r\nUsuario=maria\r\nKbps=32000\r\nServidor=varekradio.net.br\r\nServerDefault=ns1\r\n");
    QFile::remove(Path("padrao.xml"));
    TStationController& s = Start();
    clock.Advance(100); // no user file yet: the first start asks for the settings
    ASSERT_EQ(LogEntries(), 1);
    clock.Advance(59900); // fail-over: rebuild without template
    EXPECT_EQ(boxes.messages.back(),
        QStringLiteral("Arquivos de configura\u00e7\u00e3o Padr\u00e3o n\u00e3o existente!"));
    EXPECT_EQ(window.terminations, 1);
    EXPECT_TRUE(s.TerminationRequested());
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_EQ(LogEntries(), 1);
    EXPECT_EQ(script.created, 0);
    EXPECT_FALSE(QFile::exists(Path("maria.xml")));
    clock.Advance(10 * 60000);
    EXPECT_EQ(boxes.messages.size(), 2) << "the run is over: no timer acts any more";
}

TEST_F(StationControllerTest, ErrorInATimerHandlerGivesOneBoxAndOneEntryEachTimeAndTheTimerGoesOn)
{
    Configure();
    script.lastState = EncoderRunState::Starting;
    TStationController& s = Start();
    clock.Advance(100);
    script.failures["GetRunState"] = E_ENCODER_GONE;
    clock.Advance(3000);
    EXPECT_EQ(boxes.errors.size(), 3);
    EXPECT_EQ(LogEntries(), 1 + 3);
    EXPECT_TRUE(boxes.errors.front().startsWith("GetRunState: "));
    // The result code is the log's, not the operator's.
    EXPECT_FALSE(boxes.errors.back().contains("0x"));
    EXPECT_TRUE(
        Read("ZoVeva.log")
            .endsWith("A\xe7\xe3o.................: EEncoderError\r\nDescri\xe7\xe3o............: "
                + boxes.errors.back().toLatin1() + " (0x80010108)\r\nProcesso.............: \r\n\r\n"));
    EXPECT_TRUE(s.TimerStatus->Enabled());

    script.failures.clear();
    script.states = { EncoderRunState::Running };
    clock.Advance(1000);
    EXPECT_EQ(boxes.errors.size(), 3);
    EXPECT_TRUE(s.Connected());
}

TEST_F(StationControllerTest, FailedCreationLeavesThePreviousEncoderAndState)
{
    Configure();
    script.states = { 1, 5 };
    TStationController& s = Start();
    clock.Advance(1100);
    ASSERT_EQ(s.RunState(), EncoderRunState::Stopped);
    const auto previous = s.EncoderApp();
    script.failures["Create"] = E_ENCODER_NOT_STARTED;
    clock.Advance(8900); // restart at 10000 fails
    EXPECT_EQ(boxes.errors.size(), 1);
    EXPECT_EQ(s.EncoderApp(), previous);
    EXPECT_EQ(s.RunState(), EncoderRunState::Stopped);
    EXPECT_FALSE(s.TimerStatus->Enabled());
    clock.Advance(10000); // and tries again
    EXPECT_EQ(boxes.errors.size(), 2);
}

TEST_F(StationControllerTest, CloseStopsAnExistingEncoderOnly)
{
    Configure();
    TStationController& s = Start();
    EXPECT_TRUE(s.CloseStep());
    EXPECT_TRUE(script.calls.empty()) << "no encoder yet: no call";

    clock.Advance(100);
    script.failures["Stop"] = E_FAIL;
    EXPECT_FALSE(s.CloseStep());
    EXPECT_EQ(boxes.errors.size(), 1);
    script.failures.clear();
    EXPECT_TRUE(s.CloseStep());
    EXPECT_EQ(script.Count("Stop"), 2);
}

TEST_F(StationControllerTest, UserNameThatLeavesTheFolderIsAnError)
{
    Write("cfg.ini", "[Geral]\r\nUsuario=../fora\r\n");
    Start();
    clock.Advance(60000);
    EXPECT_EQ(boxes.errors.size(), 2); // first start and fail-over
    EXPECT_FALSE(QFile::exists(dir.filePath("../fora.xml")));
    EXPECT_EQ(script.created, 0);
}

// Saved, such a name would stop the encoder and then fail to name the new encoding file: the station
// off the air, and every later start failing the same way. The save refuses it before anything.
TEST_F(StationControllerTest, SaveOfAUserNameThatCannotNameAFileChangesNothing)
{
    Configure();
    script.lastState = EncoderRunState::Running;
    TStationController& s = Start();
    clock.Advance(1000);
    const QByteArray before = Read("cfg.ini");
    // A NUL cannot even stand in cfg.ini: that check comes first.
    for (const auto& [name, fileName] : { std::pair { QStringLiteral("../fora"), true },
             std::pair { QStringLiteral("a/b"), true }, std::pair { QStringLiteral("a") + QChar(0), false },
             std::pair { QStringLiteral("padrao"), true } }) {
        TDialogSettings values;
        values.Usuario = name;
        values.Senha = QStringLiteral("segredo");
        values.Kbps = s.Settings().Kbps;
        values.iIdioma = 0;
        script.calls.clear();
        if (fileName) {
            EXPECT_THROW(s.SaveSettings(values), EEncodingFileError);
        } else {
            EXPECT_THROW(s.SaveSettings(values), ESettingsFieldError);
        }
        EXPECT_EQ(Read("cfg.ini"), before);
        EXPECT_EQ(s.Settings().Usuario, "maria");
        EXPECT_TRUE(script.calls.empty());
    }
}

TEST_F(StationControllerTest, BrokenUserFileStopsTheFirstStartAndStaysAsItWas)
{
    Configure();
    const QByteArray broken = Read("maria.xml").left(300);
    Write("maria.xml", broken);
    Start();
    clock.Advance(100);
    EXPECT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(Read("ZoVeva.log").contains("EEncodingFileError"));
    EXPECT_EQ(Read("maria.xml"), broken);
    EXPECT_EQ(script.created, 0);
}

// Why the encoder stopped goes to the log once per reason and server, not with every restart, and again
// once the stream was back on the air in between.
TEST_F(StationControllerTest, StopReasonsAreLoggedOncePerChangeOfReason)
{
    Configure();
    script.lastState = EncoderRunState::Stopped;
    script.stopReason = QStringLiteral("The server refused the source: wrong source password");
    TStationController& s = Start();
    const auto entries = [&] { return static_cast<int>(Read("ZoVeva.log").count("O Encoder parou: ")); };

    clock.Advance(1100); // started at 100 (state 5), polled at 1100
    EXPECT_EQ(entries(), 1);
    EXPECT_TRUE(
        Read("ZoVeva.log")
            .contains("A\xe7\xe3o.................: Erro\r\nDescri\xe7\xe3o............: O Encoder parou: "
                      "The server refused the source: wrong source password\r\n"
                      "Processo.............: TimerStatus\r\n"));
    clock.Advance(20000); // two restarts, the same reason
    EXPECT_GE(script.created, 3);
    EXPECT_EQ(entries(), 1);

    script.stopReason
        = QStringLiteral("The server refused the source: the publishing point is already in use");
    clock.Advance(10000);
    EXPECT_EQ(entries(), 2);

    // The other mirror says the same: a new server, so a new entry; back on the first one, nothing new.
    clock.Advance(30000);
    ASSERT_EQ(s.CurrentServer(), "ns2.varekradio.net.br");
    EXPECT_EQ(entries(), 3);
    clock.Advance(60000);
    ASSERT_EQ(s.CurrentServer(), "ns1.varekradio.net.br");
    EXPECT_EQ(entries(), 3);

    // On the air, then lost for the same reason as before: that is news again.
    script.lastState = EncoderRunState::Running;
    clock.Advance(10000);
    ASSERT_TRUE(s.Connected());
    script.lastState = EncoderRunState::Stopped;
    clock.Advance(1000);
    EXPECT_EQ(entries(), 4);

    // An encoder that cannot say why costs the entry, never a box.
    script.failures["GetStopReason"] = E_FAIL;
    script.stopReason = QStringLiteral("something new");
    clock.Advance(30000);
    EXPECT_EQ(entries(), 4);
    EXPECT_TRUE(boxes.errors.empty());
}

// The settings hold the account password and the encoding file the server's source password: both are
// made readable by their owner only, and a mode someone chose later stays through every save.
TEST_F(StationControllerTest, FilesWithSecretsAreTheOwnersAloneAndKeepAChosenMode)
{
    const auto mode
        = [&](const char* name) { return std::filesystem::status(Path(name).toStdString()).permissions(); };
    using std::filesystem::perms;
    TStationController& s = Start();
    EXPECT_EQ(mode("cfg.ini"), perms::owner_read | perms::owner_write);

    TDialogSettings values;
    values.Usuario = QStringLiteral("maria");
    values.Senha = QStringLiteral("segredo");
    values.Kbps = QStringLiteral("32000");
    s.SaveSettings(values);
    s.RebuildEncodingFile();
    EXPECT_EQ(mode("cfg.ini"), perms::owner_read | perms::owner_write);
    EXPECT_EQ(mode("maria.xml"), perms::owner_read | perms::owner_write);

    const perms chosen = perms::owner_read | perms::owner_write | perms::group_read;
    std::filesystem::permissions(Path("cfg.ini").toStdString(), chosen);
    std::filesystem::permissions(Path("maria.xml").toStdString(), chosen);
    s.SaveSettings(values);
    s.RebuildEncodingFile();
    EXPECT_EQ(mode("cfg.ini"), chosen);
    EXPECT_EQ(mode("maria.xml"), chosen);
}

// A cfg.ini that is there and cannot be read is reported as what it is, and never replaced.
TEST_F(StationControllerTest, UnreadableConfigurationIsReportedAndKept)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("cfg.ini")));
    TStationController& s = Start();
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains(QStringLiteral("Cannot read %1").arg(Path("cfg.ini"))))
        << boxes.errors[0].toStdString();
    EXPECT_TRUE(Read("ZoVeva.log").contains("EProfileReadError"));

    TDialogSettings values;
    values.Usuario = QStringLiteral("maria");
    EXPECT_THROW(s.SaveSettings(values), EProfileReadError);
    EXPECT_TRUE(QFileInfo(Path("cfg.ini")).isDir());

    // The first start still says what it finds missing.
    clock.Advance(100);
    EXPECT_EQ(window.settingsShown, 1);
}

// The status poll asks for the stream's details and hands the window its hint; a connection that
// ends is logged with what it last showed, and an encoder that cannot tell leaves the status alone.
TEST_F(StationControllerTest, StreamDetailsFollowThePollAndAnEndedConnectionIsLogged)
{
    Configure();
    script.lastState = EncoderRunState::Running;
    TStreamDetails onAir;
    onAir.OnAir = true;
    onAir.OnAirMs = 3'723'000;
    onAir.BytesSent = 14'200'000;
    onAir.Server = QStringLiteral("ns1.varekradio.net.br:8000");
    onAir.Mount = QStringLiteral("/maria");
    onAir.Listeners = 3;
    script.details = onAir;
    TStationController& s = Start();

    clock.Advance(1100);
    EXPECT_EQ(window.details,
        QStringLiteral("Conectado \u2014 ns1.varekradio.net.br:8000/maria \u2014 01:02:03 \u2014 14.2 MB "
                       "\u2014 3 ouvintes"));
    EXPECT_EQ(window.status, "Conectado"); // the status text itself stays as it is
    EXPECT_EQ(s.StreamDetails().Listeners, 3);

    script.lastState = EncoderRunState::Stopped;
    TStreamDetails offAir;
    offAir.Server = onAir.Server;
    offAir.Mount = onAir.Mount;
    script.details = offAir;
    clock.Advance(1000);
    EXPECT_EQ(window.details, QStringLiteral("Desconectado \u2014 ns1.varekradio.net.br:8000/maria"));
    const QByteArray log = Read("ZoVeva.log");
    EXPECT_TRUE(
        log.contains("Conex\xe3o com ns1.varekradio.net.br:8000/maria encerrada: 01:02:03 no ar, 14.2 MB "
                     "enviados\r\nProcesso.............: TimerStatus\r\n"))
        << log.toStdString();
    clock.Advance(1000);
    EXPECT_EQ(Read("ZoVeva.log").count("encerrada"), 1);

    // An encoder that fails the request shows the status only, and no error reaches the operator.
    script.lastState = EncoderRunState::Running;
    script.failures["GetStreamDetails"] = E_FAIL;
    clock.Advance(10000);
    EXPECT_EQ(window.details, "Conectado");
    EXPECT_TRUE(boxes.errors.empty());
}

// The dead-air keys are read with the settings; a value that is not a number is logged and the default
// kept. Silence fed to the detector raises the alarm on the 1-s tick after its time, sound clears it.
TEST_F(StationControllerTest, DeadAirAlarmIsLoggedAndToldToTheWindow)
{
    Configure("SilencioTempo=3\r\nSilencioNivel=muito baixo\r\n");
    TStationController& s = Start();
    EXPECT_TRUE(Read("ZoVeva.log")
                    .contains("cfg.ini: o valor \"muito baixo\" da chave SilencioNivel em [Geral] n\xe3o "
                              "\xe9 um n\xfamero; vale -50"));
    EXPECT_EQ(s.DeadAir().Settings().Seconds, 3.0);
    EXPECT_EQ(s.DeadAir().Settings().LevelDb, -50.0);

    const std::vector<std::int16_t> quiet(2 * 4410, 50); // 100 ms at about -56 dBFS
    const std::vector<std::int16_t> loud(2 * 4410, 3000);
    const auto feed = [&](const std::vector<std::int16_t>& block, int times) {
        for (int i = 0; i < times; ++i) {
            s.DeadAirDetector().Feed(block.data(), static_cast<int>(block.size() * 2));
        }
    };
    feed(quiet, 29);
    clock.Advance(1000);
    EXPECT_TRUE(window.deadAir.empty());
    feed(quiet, 1);
    clock.Advance(1000);
    ASSERT_EQ(window.deadAir.size(), 1u);
    EXPECT_TRUE(window.deadAir[0].first);
    EXPECT_EQ(
        window.deadAir[0].second, "Sil\u00eancio no ar: o som capturado ficou abaixo de -50 dBFS por 3 s");
    // The window is told how long the silence has lasted, so its warning names when it began.
    EXPECT_DOUBLE_EQ(window.deadAirSeconds[0], 3.0);
    feed(quiet, 20);
    clock.Advance(5000); // still silent: told once
    EXPECT_EQ(window.deadAir.size(), 1u);
    // Saving the settings window reads the same settings again: the alarm stays as it is.
    s.SaveSettings(TDialogSettings {});
    clock.Advance(1000);
    EXPECT_EQ(window.deadAir.size(), 1u);
    EXPECT_TRUE(s.DeadAir().Raised());

    feed(loud, 1);
    clock.Advance(1000);
    ASSERT_EQ(window.deadAir.size(), 2u);
    EXPECT_FALSE(window.deadAir[1].first);
    const QByteArray log = Read("ZoVeva.log");
    EXPECT_TRUE(
        log.contains("A\xe7\xe3o.................: Aviso\r\nDescri\xe7\xe3o............: Sil\xeancio no ar"));
    EXPECT_TRUE(log.contains(
        "O som voltou depois de 00:00:05 de sil\xeancio\r\nProcesso.............: TimerSilencio"))
        << log.toStdString();
}

// The account page's limit, read after each load: only a number that changes the bitrate writes it and
// restarts the encoder (stopping it first only while it publishes); anything else changes nothing.
TEST_F(StationControllerTest, AccountPageLimitChangesTheBitrateOrNothing)
{
    const struct {
        const char* name;
        std::optional<QString> limit;
        std::int32_t state;
        const char* kbps;
        std::vector<std::string> calls;
    } cases[] = {
        { "no element", std::nullopt, EncoderRunState::Running, "32000", {} },
        { "empty", QString(), EncoderRunState::Running, "32000", {} },
        { "not a number", QStringLiteral("abc"), EncoderRunState::Running, "32000", {} },
        { "same bitrate", QStringLiteral("63"), EncoderRunState::Running, "32000", {} },
        { "publishing", QStringLiteral("96"), EncoderRunState::Running, "96000",
            { "GetEncoder", "Stop", "Create", "GetEncoder", "Load", "GetEncoder", "Start", "GetEncoder",
                "GetRunState" } },
        { "not publishing", QStringLiteral(" 128 "), EncoderRunState::Starting, "128016",
            { "Create", "GetEncoder", "Load", "GetEncoder", "Start", "GetEncoder", "GetRunState" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Configure();
        script.lastState = c.state;
        TStationController& s = Start();
        clock.Advance(1000);
        ASSERT_EQ(s.RunState(), c.state);
        const QByteArray before = Read("maria.xml");
        script.calls.clear();
        const int entries = LogEntries();

        s.AccountPageLoaded(c.limit);
        EXPECT_EQ(s.Settings().Kbps, c.kbps);
        EXPECT_TRUE(Read("cfg.ini").contains(QByteArray("Kbps=") + c.kbps));
        EXPECT_EQ(script.calls, c.calls);
        EXPECT_EQ(Read("maria.xml") != before, !c.calls.empty());
        EXPECT_EQ(LogEntries(), entries);
        EXPECT_TRUE(boxes.errors.empty());
        station.reset();
        QFile::remove(Path("cfg.ini"));
        QFile::remove(Path("maria.xml"));
    }
}

// A failure after the new bitrate was set is silent, and the bitrate stays what the page said.
TEST_F(StationControllerTest, AccountPageFailureIsSilentAndKeepsTheNewBitrate)
{
    Configure();
    script.lastState = EncoderRunState::Starting;
    TStationController& s = Start();
    clock.Advance(1000);
    const int entries = LogEntries();
    Write("maria.xml", "<Encoder");
    script.calls.clear();

    s.AccountPageLoaded(QStringLiteral("64"));
    EXPECT_EQ(s.Settings().Kbps, "64008");
    EXPECT_TRUE(Read("cfg.ini").contains("Kbps=64008"));
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(LogEntries(), entries);
}

// The save's encoder steps: a new user name starts the encoder twice, the same one once.
TEST_F(StationControllerTest, SaveStartsTheEncoderTwiceForANewUserName)
{
    for (const bool newUser : { false, true }) {
        SCOPED_TRACE(newUser ? "new user" : "same user");
        Configure();
        script.lastState = EncoderRunState::Running;
        TStationController& s = Start();
        clock.Advance(1000);
        script.calls.clear();
        s.RestartEncoderAfterSave(newUser ? QStringLiteral("jose") : QStringLiteral("maria"));
        EXPECT_EQ(script.Count("Stop"), 1);
        EXPECT_EQ(script.Count("Start"), newUser ? 2 : 1);
        EXPECT_EQ(script.Count("Create"), newUser ? 2 : 1);
        station.reset();
    }
}
