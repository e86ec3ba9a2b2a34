// The main window on the offscreen platform: its program folder in a temporary directory, its timers on
// a virtual clock, a scripted encoder, the synthetic sound input and recorded message boxes.

#include "audio/MMMixCtl.h"
#include "audio/MMMixer.h"
#include "audio/MMWavIn.h"
#include "encoder/EncoderStrings.h"
#include "platform/Ansi.h"
#include "platform/AppError.h"
#include "platform/Clock.h"
#include "platform/Mixer.h"
#include "platform/ResStrings.h"
#include "platform/WaveIn.h"
#include "skin/SkMMButton.h"
#include "station/AccountBrowser.h"
#include "station/ConfigStore.h"
#include "station/EncoderContract.h"
#include "station/StationStrings.h"
#include "station/U_Config.h"
#include "station/U_ZoVeva.h"
#include "station/WordElide.h"
#include "tests/support/MixerTables.h"
#include "tests/support/ScriptedEncoder.h"
#include "tests/support/StationDoubles.h"
#include "tests/support/Wait.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using zv::test::EncoderScript;
using zv::test::FakeFactory;

// The account page's browser without a network: it keeps what was posted, and the test says when a
// page has loaded.
struct FakeBrowser final : TAccountBrowser {
    explicit FakeBrowser(QWidget* parent)
        : view(new QWidget(parent))
    {
    }
    QWidget* View() const override { return view; }
    void Post(const TAccountRequest& request) override { posts.push_back(request); }
    QWidget* view;
    std::vector<TAccountRequest> posts;
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        Binding = zv::MakeSyntheticWaveIn(zv::SyntheticDevicesFromEnvironment());
        // Each synthetic card with its in-memory mixer, as the demo station has them.
        std::vector<zv::MemoryMixerTable> tables;
        for (const auto& device : zv::SyntheticDevicesFromEnvironment()) {
            tables.push_back(zv::SyntheticMixerTable(device.name));
        }
        Mixers = zv::MakeMemoryMixer(tables);
    }

    void TearDown() override
    {
        if (PopupMenu()) {
            PopupMenu()->hide();
        }
        Window.reset();
    }

    // A folder set up for a user whose encoding file and encoder are there.
    void PrepareUser(const QByteArray& placa = "0", const QByteArray& controle = "0")
    {
        WriteFile("cfg.ini",
            "[Geral]\r\nControle=" + controle + "\r\nUsuario=demo\r\nSenha=\r\nPlaca=" + placa
                + "\r\nRadio=R\xe1"
                  "dio Teste\r\nKbps=32000\r\nServidor=0.0.1\r\nServerDefault=127\r\niIdioma=-1\r\n");
        QFile::copy(QStringLiteral(ZOVEVA_SOURCE_PADRAO), Folder.filePath(QStringLiteral("demo.xml")));
        WriteFile("zoveva-encoder", "#!/bin/sh\n");
    }

    // The program's language file beside it: a save needs a language chosen from its list.
    void AddLanguageFile()
    {
        const QString file = Folder.filePath(QStringLiteral("ZoVeva.lcf"));
        QFile::remove(file);
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZOVEVA_LANGUAGE_FILE), file));
    }

    QByteArray ReadFile(const char* name) const
    {
        QFile file(Folder.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void WriteFile(const char* name, const QByteArray& bytes)
    {
        QFile file(Folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    void Create()
    {
        TFrm_ZoVeva::Options options;
        options.Boxes = &MessageBoxes;
        options.WaveInBinding = Binding.get();
        options.MixerBinding = Mixers.get();
        options.CursorPos = [this] { return Cursor; };
        options.Terminate = [this] { ++Terminations; };
        options.TrayAvailable = [this] { return TrayHost; };
        options.Notify = [this](const QString& summary, const QString& body) {
            Notifications << summary + QStringLiteral(": ") + body;
        };
        options.AccountBrowser = [this](QWidget* parent) {
            auto browser = std::make_unique<FakeBrowser>(parent);
            Browser = browser.get();
            return browser;
        };
        Window = std::make_unique<TFrm_ZoVeva>(Folder.path().toStdString(), Clock, Factory, options);
    }

    void CreateAndShow()
    {
        Create();
        Window->show();
        QApplication::processEvents();
    }

    // A click on the middle of an image button, where its face is.
    static void Click(TSkMMButton* button)
    {
        // A button takes presses on its face as last painted.
        QApplication::processEvents();
        const QPoint at(12, 11);
        for (const QEvent::Type type : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
            QMouseEvent e(type, at, button->mapToGlobal(at), Qt::LeftButton,
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(button, &e);
        }
    }

    QMenu* PopupMenu() const { return Window ? Window->PopupMenu1 : nullptr; }

    QString Log() const
    {
        QFile file(Folder.filePath(QStringLiteral("ZoVeva.log")));
        return file.open(QIODevice::ReadOnly) ? zv::FromAnsi(file.readAll()) : QString();
    }

    static int SettingsWindows()
    {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            n += qobject_cast<TFrm_Config*>(w) != nullptr;
        }
        return n;
    }

    // Runs the first start (the clock to 100 ms). Its settings window opens from the event loop, once
    // no box is open: `inside` runs in the window's modal loop once it is up, and this returns when the
    // window has closed (or, should it not react, after 10 s, which closes it).
    void FirstStartWithSettingsWindow(const std::function<void(TFrm_Config&)>& inside)
    {
        bool ran = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TFrm_Config* config = Window->Frm_Config();
            if (!ran && config && config->isVisible()) {
                ran = true;
                inside(*config);
            }
        });
        poll.start(5);
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [&] {
            if (Window->Frm_Config()) {
                Window->Frm_Config()->hide();
            }
        });
        bound.start(10000);
        Clock.Advance(100);
        zv::test::PumpUntil(
            [&] { return ran && !Window->Frm_Config()->isVisible(); }, std::chrono::seconds(11));
        EXPECT_TRUE(ran) << "the settings window opened";
    }

    QTemporaryDir Folder;
    bool TrayHost = true; // the desktop has a tray
    QStringList Notifications; // "summary: body" sent to the desktop's notifications
    zv::VirtualClock Clock;
    // The encoder's run state and stop reason are the test's; every call is counted.
    EncoderScript Script = [] {
        EncoderScript script;
        script.lastState = EncoderRunState::Starting;
        return script;
    }();
    FakeFactory Factory { Script };
    zv::test::RecordedBoxes MessageBoxes;
    std::unique_ptr<zv::WaveInOps> Binding;
    std::unique_ptr<zv::MemoryMixerOps> Mixers;
    QPoint Cursor { 100, 100 };
    int Terminations = 0;
    std::unique_ptr<TFrm_ZoVeva> Window;
    FakeBrowser* Browser = nullptr;
};

TEST_F(MainWindow, DisplayButtonCyclesOscilloscopeLevelsMetersSpectrum)
{
    PrepareUser();
    CreateAndShow();
    EXPECT_EQ(Window->FrontDisplay(), Window->PSpectrum) << "every start shows the spectrum";
    QWidget* const expected[]
        = { Window->POsciloscopio, Window->PLevel, Window->PVU, Window->PSpectrum, Window->POsciloscopio };
    for (int click = 0; click < 5; ++click) {
        Click(Window->BEqualizer);
        EXPECT_EQ(Window->FrontDisplay(), expected[click]) << "click " << click + 1;
        for (QWidget* panel : { Window->PVU, Window->PLevel, Window->POsciloscopio, Window->PSpectrum }) {
            EXPECT_EQ(panel->isVisible(), panel == expected[click]) << panel->objectName().toStdString();
        }
    }
    EXPECT_EQ(Window->DisplayIndex(), 1);
}

TEST_F(MainWindow, TrayLeftClickTogglesAndRightClickOpensTheMenuLaterWhereTheMouseThenIs)
{
    PrepareUser();
    CreateAndShow();
    ASSERT_TRUE(Window->isVisible());
    Window->TrayNotification(TFrm_ZoVeva::TrayLeftButtonDown);
    EXPECT_FALSE(Window->isVisible());
    Window->TrayNotification(TFrm_ZoVeva::TrayLeftButtonDown);
    EXPECT_TRUE(Window->isVisible());

    // Other mouse messages (move, left up, double click, right up) do nothing.
    for (const int message : { 512, 514, 515, 517 }) {
        Window->TrayNotification(message);
        Clock.Advance(250);
        EXPECT_TRUE(Window->isVisible()) << message;
        EXPECT_FALSE(PopupMenu()->isVisible()) << message;
    }

    Cursor = { 150, 120 };
    Window->TrayNotification(TFrm_ZoVeva::TrayRightButtonDown);
    Cursor = { 300, 200 };
    Clock.Advance(199);
    EXPECT_FALSE(PopupMenu()->isVisible());
    Clock.Advance(1);
    ASSERT_TRUE(PopupMenu()->isVisible());
    EXPECT_EQ(PopupMenu()->pos(), QPoint(300, 200));
    EXPECT_FALSE(Window->TimerPopup().Enabled()) << "one shot";

    // The menu's items act on the window.
    PopupMenu()->hide();
    Window->Minimizar1->trigger();
    EXPECT_FALSE(Window->isVisible());
    Window->Maximizar1->trigger();
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Terminations, 0);
    Window->Fechar1->trigger();
    EXPECT_EQ(Terminations, 1);
}

TEST_F(MainWindow, HidingAndShowingNeverRepeatsTheFirstShowSteps)
{
    PrepareUser();
    Create();
    int accountRequests = 0;
    QObject::connect(Window.get(), &TFrm_ZoVeva::AccountRequested, [&] { ++accountRequests; });
    Window->show();
    QApplication::processEvents();
    ASSERT_NE(Window->Frm_Config(), nullptr);
    EXPECT_TRUE(Window->WaveIn().Started());
    ASSERT_NE(Window->TrayIcon(), nullptr);
    EXPECT_TRUE(Window->TrayIcon()->isVisible());
    EXPECT_EQ(Window->Frm_Config()->EdRadio->text(), QStringLiteral("R\u00e1dio Teste"));
    EXPECT_EQ(Window->Frm_Config()->CBPlacas->currentText(), QStringLiteral("Synthetic tone 1 kHz"));
    EXPECT_EQ(accountRequests, 1);
    // The password field shows one "*" per character, not the style's own mark.
    Window->Frm_Config()->EdSenha->setText(QStringLiteral("s3nhá"));
    EXPECT_EQ(Window->Frm_Config()->EdSenha->displayText().toStdString(), "*****");

    // What the operator typed survives: the settings are not copied into the dialog again.
    Window->Frm_Config()->EdRadio->setText(QStringLiteral("typed"));
    QSystemTrayIcon* tray = Window->TrayIcon();
    Click(Window->BOcultar);
    EXPECT_FALSE(Window->isVisible());
    EXPECT_TRUE(tray->isVisible()) << "the tray icon stays while hidden";
    Window->TrayNotification(TFrm_ZoVeva::TrayLeftButtonDown);
    EXPECT_TRUE(Window->isVisible());
    Window->hide();
    Window->show();
    QApplication::processEvents();

    EXPECT_EQ(accountRequests, 1);
    EXPECT_EQ(SettingsWindows(), 1);
    EXPECT_EQ(Window->TrayIcon(), tray);
    EXPECT_EQ(Window->Frm_Config()->EdRadio->text(), QStringLiteral("typed"));
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join('\n').toStdString();
}

// A desktop without a tray host: hiding minimises instead (the taskbar brings the window back), the
// dead-air alarm goes to the desktop's notifications and the status line, and a host that comes or
// goes later is followed within 2 s.
TEST_F(MainWindow, WithoutATrayHideMinimisesAndAlarmsGoToNotificationsAndTheStatus)
{
    TrayHost = false;
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100);
    EXPECT_FALSE(Window->HasTray());
    ASSERT_NE(Window->TrayIcon(), nullptr);
    EXPECT_FALSE(Window->TrayIcon()->isVisible()) << "no icon for a tray that is not there";
    for (const auto& hide : std::vector<std::function<void()>> {
             [&] { Click(Window->BOcultar); }, [&] { Window->Minimizar1->trigger(); } }) {
        hide();
        EXPECT_TRUE(Window->isVisible());
        EXPECT_TRUE(Window->isMinimized());
        Window->RestoreWindow();
        EXPECT_FALSE(Window->isMinimized());
    }

    Window->SetStatus(QStringLiteral("Conectado"), TRgb { 0, 255, 0 });
    Window->SetStatusDetails(QStringLiteral("details"));
    const QString title = zv::LoadResString(zv::SDeadAirTitle);
    Window->DeadAirChanged(true, QStringLiteral("below -50 dBFS"), 20);
    EXPECT_EQ(Notifications, QStringList { title + QStringLiteral(": below -50 dBFS") });
    EXPECT_EQ(Window->LStatus->text(), title);
    EXPECT_TRUE(Window->LStatus->toolTip().startsWith(QStringLiteral("ATEN\u00c7\u00c3O")))
        << Window->LStatus->toolTip().toStdString();
    EXPECT_TRUE(Window->LStatus->toolTip().endsWith(QStringLiteral("\ndetails")));
    // The encoder's state changes underneath; the alarm stays in front until the sound returns.
    Window->SetStatus(QStringLiteral("Desconectado"), TRgb { 255, 0, 0 });
    EXPECT_EQ(Window->LStatus->text(), title);
    Window->DeadAirChanged(false, QString(), 0);
    EXPECT_EQ(Window->LStatus->text(), QStringLiteral("Desconectado"));
    EXPECT_EQ(Window->LStatus->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(Window->LStatus->toolTip(), QStringLiteral("details"));

    // A tray host comes: the icon shows, hiding hides, the alarm is the tray's.
    TrayHost = true;
    Clock.Advance(2000);
    EXPECT_TRUE(Window->HasTray());
    EXPECT_TRUE(Window->TrayIcon()->isVisible());
    Window->DeadAirChanged(true, QStringLiteral("again"), 20);
    EXPECT_EQ(Notifications.size(), 1) << "the tray has the alarm";
    Window->DeadAirChanged(false, QString(), 0);
    Click(Window->BOcultar);
    EXPECT_FALSE(Window->isVisible());

    // It goes away while the window is in it: the window comes back, minimised.
    TrayHost = false;
    Clock.Advance(2000);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->isMinimized());
    EXPECT_FALSE(Window->TrayIcon()->isVisible());
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join('\n').toStdString();
}

// With a tray the dead-air alarm of the window's own (silent) capture takes turns on the status line
// with the encoder's state, a second each, and the line is the state alone once the alarm clears.
TEST_F(MainWindow, WithATrayTheDeadAirAlarmTakesTurnsWithTheStatusUntilItClears)
{
    zv::SyntheticDevice silence;
    silence.kind = zv::SyntheticDevice::Silence;
    silence.name = "Synthetic silence";
    Binding = zv::MakeSyntheticWaveIn({ silence });
    PrepareUser();
    QFile cfg(Folder.filePath(QStringLiteral("cfg.ini")));
    ASSERT_TRUE(cfg.open(QIODevice::Append));
    cfg.write("SilencioTempo=1\r\n");
    cfg.close();
    Script.lastState = EncoderRunState::Running;
    CreateAndShow();
    ASSERT_TRUE(Window->HasTray());
    ASSERT_TRUE(Window->WaveIn().Started());
    Clock.Advance(1100); // first start and the first poll
    ASSERT_EQ(Window->LStatus->text(), QStringLiteral("Conectado"));

    zv::test::PumpUntil([&] { return Window->Controller().DeadAirDetector().SilentSeconds() >= 1.0; });
    Clock.Advance(1000); // the alarm's tick
    ASSERT_TRUE(Window->Controller().DeadAir().Raised());
    const QString title = zv::LoadResString(zv::SDeadAirTitle);
    const QColor amber(255, 191, 0);
    const QColor green(0, 255, 0);
    EXPECT_EQ(Window->LStatus->text(), title) << "shown at once";
    EXPECT_EQ(Window->LStatus->palette().color(QPalette::WindowText), amber);
    EXPECT_TRUE(Window->LStatus->toolTip().startsWith(QStringLiteral("ATEN\u00c7\u00c3O")))
        << Window->LStatus->toolTip().toStdString();
    EXPECT_TRUE(Window->TrayToolTip().startsWith(QStringLiteral("ATEN\u00c7\u00c3O")));

    // Eight animation ticks: whatever the phase the alarm rose in, each text holds for two of them.
    std::vector<std::pair<QString, QColor>> shown;
    for (int tick = 0; tick < 8; ++tick) {
        Clock.Advance(500);
        shown.emplace_back(Window->LStatus->text(), Window->LStatus->palette().color(QPalette::WindowText));
    }
    for (std::size_t i = 0; i + 2 < shown.size(); ++i) {
        const auto& [text, colour] = shown[i];
        EXPECT_TRUE(
            (text == title && colour == amber) || (text == QStringLiteral("Conectado") && colour == green))
            << i << ": " << text.toStdString();
        EXPECT_NE(text, shown[i + 2].first) << i;
        if (i + 4 < shown.size()) {
            EXPECT_EQ(text, shown[i + 4].first) << i;
        }
    }

    // New settings clear the raised alarm at the next tick: the state alone from then on.
    WriteFile("cfg.ini", ReadFile("cfg.ini").replace("SilencioTempo=1\r\n", "SilencioTempo=60\r\n"));
    Window->Controller().LoadSettings();
    Clock.Advance(1000);
    EXPECT_FALSE(Window->Controller().DeadAir().Raised());
    for (int tick = 0; tick < 4; ++tick) {
        Clock.Advance(500);
        EXPECT_EQ(Window->LStatus->text(), QStringLiteral("Conectado")) << tick;
        EXPECT_EQ(Window->LStatus->palette().color(QPalette::WindowText), green) << tick;
    }
    EXPECT_FALSE(Window->LStatus->toolTip().contains(QStringLiteral("ATEN\u00c7\u00c3O")));
    EXPECT_FALSE(Window->TrayToolTip().contains(QStringLiteral("ATEN\u00c7\u00c3O")));
}

// Off the air, the status line's hint and the tray's tooltip say why the encoder stopped, in the chosen
// language where the program has the encoder's text (its argument kept as it came, '%' and all), as it
// came otherwise; through the restart's "Conectando..." too, and no longer once on the air.
TEST_F(MainWindow, StopReasonShowsInTheHintAndTooltipUntilTheStationIsOnTheAirAgain)
{
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100); // first start
    // A language that has the encoder's refusals (installed after the window chose its own).
    zv::SetResStringLookup([](int id) {
        switch (id) {
        case zv::SSourceRefusedSaying:
            return QStringLiteral("El servidor rechaz\u00f3 la fuente: \u00ab%1\u00bb");
        case zv::SSourceWrongPassword:
            return QStringLiteral("Usuario o contrase\u00f1a de la fuente equivocados");
        default:
            return QString();
        }
    });
    struct Reset {
        ~Reset() { zv::SetResStringLookup({}); }
    } reset;

    const QString stopped = QStringLiteral("O Encoder parou: ");
    const struct {
        QString sent;
        QString shown;
    } cases[] = {
        { zv::BuiltInResString(zv::SSourceRefusedSaying).arg(QStringLiteral("50% %1 full")),
            QStringLiteral("El servidor rechaz\u00f3 la fuente: \u00ab50% %1 full\u00bb") },
        { zv::BuiltInResString(zv::SSourceWrongPassword),
            QStringLiteral("Usuario o contrase\u00f1a de la fuente equivocados") },
        { QStringLiteral("The input device \"x\" delivered no sound for 5 s"),
            QStringLiteral("The input device \"x\" delivered no sound for 5 s") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent.toStdString());
        Script.stopReason = c.sent;
        Script.lastState = EncoderRunState::Stopped;
        Clock.Advance(1000);
        ASSERT_EQ(Window->LStatus->text(), QStringLiteral("Desconectado"));
        EXPECT_TRUE(Window->LStatus->toolTip().endsWith(QLatin1Char('\n') + stopped + c.shown))
            << Window->LStatus->toolTip().toStdString();
        EXPECT_TRUE(Window->TrayToolTip().endsWith(QLatin1Char('\n') + stopped + c.shown))
            << Window->TrayToolTip().toStdString();
        EXPECT_TRUE(Log().contains(stopped + c.shown)) << Log().toStdString();

        Script.lastState = EncoderRunState::Starting;
        Clock.Advance(11000); // the restart and its first poll
        ASSERT_EQ(Window->LStatus->text(), QStringLiteral("Conectando..."));
        EXPECT_TRUE(Window->LStatus->toolTip().endsWith(stopped + c.shown));
        EXPECT_TRUE(Window->TrayToolTip().endsWith(stopped + c.shown));
    }

    Script.lastState = EncoderRunState::Running;
    Clock.Advance(1000);
    ASSERT_EQ(Window->LStatus->text(), QStringLiteral("Conectado"));
    EXPECT_FALSE(Window->LStatus->toolTip().contains(stopped)) << Window->LStatus->toolTip().toStdString();
    EXPECT_FALSE(Window->TrayToolTip().contains(stopped)) << Window->TrayToolTip().toStdString();
}

// The tray's check item switches the recording of the air: saved in cfg.ini, written into the encoding
// file and taken by the running encoder, with no restart; a recording that pauses for lack of space
// is told once in the log (and the tray), and the hint says where it records.
TEST_F(MainWindow, TrayItemSwitchesTheRecordingWithoutARestart)
{
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100); // first start
    Script.lastState = EncoderRunState::Running;
    Clock.Advance(1000);
    const int starts = Script.Count("Start");
    emit Window->PopupMenu1->aboutToShow();
    EXPECT_FALSE(Window->Gravar1->isChecked());

    Window->Gravar1->trigger();
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Gravar=1\r\n")) << ReadFile("cfg.ini").toStdString();
    EXPECT_TRUE(ReadFile("demo.xml").contains(R"(Recording="1")"));
    EXPECT_TRUE(ReadFile("demo.xml").contains(R"(RecordingFolder="Gravacoes")"));
    EXPECT_EQ(Script.Count("ReloadRecording"), 1);
    EXPECT_EQ(Script.Count("Start"), starts);
    emit Window->PopupMenu1->aboutToShow();
    EXPECT_TRUE(Window->Gravar1->isChecked());

    TStreamDetails details;
    details.RecordingFolder = QStringLiteral("/srv/ar");
    details.Recording = TRecordingState::Recording;
    Script.details = details;
    Clock.Advance(1000);
    EXPECT_TRUE(Window->TrayToolTip().contains(QStringLiteral("Gravando o que vai ao ar em /srv/ar")))
        << Window->TrayToolTip().toStdString();
    Script.details->Recording = TRecordingState::PausedLowSpace;
    Clock.Advance(3000);
    EXPECT_EQ(Log().count(QStringLiteral("Pouco espa\u00e7o livre em /srv/ar")), 1) << Log().toStdString();
    EXPECT_TRUE(Window->LStatus->toolTip().contains(QStringLiteral("Grava\u00e7\u00e3o pausada")));

    Window->Gravar1->trigger();
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Gravar=0\r\n"));
    EXPECT_TRUE(ReadFile("demo.xml").contains(R"(Recording="0")"));
    EXPECT_EQ(Script.Count("ReloadRecording"), 2);
    EXPECT_EQ(Script.Count("Start"), starts);
}

TEST_F(MainWindow, ControleThatIsNotANumberRaisesThroughTheErrorHandler)
{
    PrepareUser("0", "");
    CreateAndShow();
    EXPECT_EQ(MessageBoxes.errors, QStringList { QStringLiteral("'' is not a valid integer value") });
    EXPECT_TRUE(Log().contains(QStringLiteral("EConvertError"))) << Log().toStdString();
}

TEST_F(MainWindow, AFailedFirstShowIsTriedAgainWithoutASecondWindowOrIcon)
{
    PrepareUser("x");
    CreateAndShow();
    ASSERT_EQ(MessageBoxes.errors, QStringList { QStringLiteral("'x' is not a valid integer value") });
    EXPECT_TRUE(Log().contains(QStringLiteral("EConvertError"))) << Log().toStdString();
    EXPECT_FALSE(Window->WaveIn().Started()) << "the later steps are left undone";
    EXPECT_EQ(Window->TrayIcon(), nullptr);
    EXPECT_FALSE(Window->TimerIcone().Enabled());

    Window->hide();
    Window->show();
    QApplication::processEvents();
    EXPECT_EQ(MessageBoxes.errors.size(), 2);
    EXPECT_EQ(SettingsWindows(), 1);
}

TEST_F(MainWindow, TrayIconAnimatesWhileConnectedAndStatusFollowsTheEncoder)
{
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100); // first start
    ASSERT_EQ(Script.created, 1);
    EXPECT_EQ(Window->LStatus->text(), QStringLiteral("Conectando..."));

    Script.lastState = EncoderRunState::Running;
    Clock.Advance(400); // 500 ms: first animation tick, before the first poll
    EXPECT_EQ(Window->ShownFrame(), 1);
    Clock.Advance(600); // 1100 ms: the poll saw the encoder on the air
    EXPECT_EQ(Window->LStatus->text(), QStringLiteral("Conectado"));
    EXPECT_EQ(Window->LStatus->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_TRUE(Window->Controller().Connected());

    std::vector<int> frames;
    for (int tick = 0; tick < 5; ++tick) {
        Clock.Advance(500);
        frames.push_back(Window->ShownFrame());
        EXPECT_EQ(Window->TrayIcon()->icon().cacheKey(), Window->TrayFrame(frames.back() - 1).cacheKey());
        EXPECT_EQ(QApplication::windowIcon().cacheKey(), Window->TrayFrame(frames.back() - 1).cacheKey());
    }
    EXPECT_EQ(frames, (std::vector<int> { 3, 4, 1, 2, 3 }));

    Script.lastState = EncoderRunState::Stopped;
    Clock.Advance(500); // the poll at 4100 ms sees it
    EXPECT_EQ(Window->LStatus->text(), QStringLiteral("Desconectado"));
    EXPECT_EQ(Window->LStatus->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(Window->Controller().Connected());
    Clock.Advance(500);
    EXPECT_EQ(Window->ShownFrame(), 1) << "within 500 ms of the connection ending";
    Clock.Advance(2000);
    EXPECT_EQ(Window->ShownFrame(), 1);
}

TEST_F(MainWindow, QuitStopsTheEncoderOrStaysOpenWhenItCannot)
{
    PrepareUser();
    CreateAndShow();
    // Before any encoder exists, quitting makes no encoder call.
    Click(Window->BFechar);
    EXPECT_EQ(Terminations, 1);
    EXPECT_EQ(Script.Count("Stop"), 0);

    Window->show();
    Clock.Advance(100);
    Window->TimerIcone().SetEnabled(true);
    Script.failures["Stop"] = E_FAIL;
    Window->Fechar1->trigger();
    EXPECT_EQ(Script.Count("Stop"), 1);
    EXPECT_EQ(Terminations, 1) << "a failed stop keeps the program running";
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(Window->TimerIcone().Enabled()) << "the animation is stopped";
    EXPECT_EQ(MessageBoxes.errors.size(), 1);
    EXPECT_TRUE(Log().contains(QStringLiteral("EEncoderError")));

    Script.failures.erase("Stop");
    Click(Window->BFechar);
    EXPECT_EQ(Terminations, 2);
}

// On the air, the power button and the tray's close item ask first, and No keeps the station on the
// air; off the air (connecting, disconnected) they quit at once as before.
TEST_F(MainWindow, QuittingOnTheAirAsksFirst)
{
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100); // first start: connecting
    Click(Window->BFechar);
    EXPECT_TRUE(MessageBoxes.questions.isEmpty()) << "not on the air yet";
    EXPECT_EQ(Terminations, 1);

    Window->show();
    Script.lastState = EncoderRunState::Running;
    Clock.Advance(1000);
    ASSERT_TRUE(Window->Controller().Connected());
    const int stopsBefore = Script.Count("Stop");
    const bool animating = Window->TimerIcone().Enabled();
    MessageBoxes.answer = false;
    Click(Window->BFechar);
    Window->Fechar1->trigger();
    EXPECT_EQ(MessageBoxes.questions, QStringList(2, zv::BuiltInResString(zv::SAskOffAir)));
    EXPECT_EQ(Terminations, 1);
    EXPECT_EQ(Script.Count("Stop"), stopsBefore) << "No leaves the encoder alone";
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Window->TimerIcone().Enabled(), animating) << "the animation goes on";

    MessageBoxes.answer = true;
    Window->Fechar1->trigger();
    EXPECT_EQ(MessageBoxes.questions.size(), 3);
    EXPECT_EQ(Script.Count("Stop"), stopsBefore + 1);
    EXPECT_EQ(Terminations, 2);
}

TEST_F(MainWindow, FirstStartInAnEmptyFolderCreatesTheSettingsAndAsksForThemModally)
{
    CreateAndShow();
    EXPECT_TRUE(QFile::exists(Folder.filePath(QStringLiteral("cfg.ini"))));
    bool modal = false;
    bool settingsPanel = false;
    // Closing the window ends its modal loop.
    FirstStartWithSettingsWindow([&](TFrm_Config& config) {
        modal = config.isVisible() && config.isModal();
        settingsPanel = config.PConfig->isVisible();
        Click(config.BFechar);
    });
    EXPECT_TRUE(modal);
    EXPECT_TRUE(settingsPanel);
    EXPECT_FALSE(Window->Frm_Config()->isVisible());
    EXPECT_EQ(MessageBoxes.messages,
        QStringList { QStringLiteral("Arquivo de codifica\u00e7\u00e3o n\u00e3o encontrado!") });
    EXPECT_TRUE(Log().contains(QStringLiteral("N\u00e3o foi encontrado o arquivo de codifica\u00e7\u00e3o")))
        << Log().toStdString();
    EXPECT_EQ(Script.created, 0);
}

TEST_F(MainWindow, SettingsAndInformationButtonsShowTheirPanels)
{
    PrepareUser();
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    Click(Window->BInfo);
    EXPECT_TRUE(config->isVisible());
    EXPECT_FALSE(config->isModal());
    EXPECT_FALSE(config->PConfig->isVisible());
    EXPECT_TRUE(config->PBrowser->isVisible());
    Click(config->SkMMButton2);
    EXPECT_FALSE(config->isVisible());
    Click(Window->BConfig);
    EXPECT_TRUE(config->isVisible());
    EXPECT_TRUE(config->PConfig->isVisible());
    // A close request only hides the window.
    config->close();
    EXPECT_FALSE(config->isVisible());
    EXPECT_EQ(SettingsWindows(), 1);
}

// A save that lacks a user name or a password is refused with its message: no file changes, the
// encoder is left alone and the capture goes on.
TEST_F(MainWindow, RefusedSaveChangesNothing)
{
    for (const char* empty : { "EdUsuario", "EdSenha" }) {
        SCOPED_TRACE(empty);
        PrepareUser();
        AddLanguageFile();
        CreateAndShow();
        Clock.Advance(100);
        TFrm_Config* config = Window->Frm_Config();
        Click(Window->BConfig);
        config->EdUsuario->setText(QStringLiteral("jose"));
        config->EdSenha->setText(QStringLiteral("nova"));
        config->findChild<QLineEdit*>(QString::fromLatin1(empty))->clear();
        const QByteArray cfg = ReadFile("cfg.ini");
        const int created = Script.created;
        const std::size_t posts = Browser->posts.size();
        MessageBoxes.messages.clear();

        Click(config->SkMMButton1);
        EXPECT_EQ(MessageBoxes.messages,
            QStringList { QString::fromLatin1(empty) == QLatin1String("EdUsuario")
                    ? QStringLiteral("\u00c9 necess\u00e1rio informar o Usu\u00e1rio!")
                    : QStringLiteral("\u00c9 necess\u00e1rio informar a Senha!") });
        EXPECT_EQ(ReadFile("cfg.ini"), cfg);
        EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral("jose.xml"))));
        EXPECT_EQ(Script.created, created);
        EXPECT_EQ(Browser->posts.size(), posts);
        EXPECT_TRUE(Window->WaveIn().Started());
        EXPECT_TRUE(config->isVisible());
        Window.reset();
    }
}

// A save writes cfg.ini (password scrambled), reads it back, posts the account, restarts the encoder
// (twice for a new user name, once for the same) and hides the window with the capture running.
TEST_F(MainWindow, SaveWritesPostsRestartsAndHides)
{
    for (const bool newUser : { false, true }) {
        SCOPED_TRACE(newUser ? "new user name" : "same user name");
        PrepareUser();
        AddLanguageFile();
        // A new user's encoding file is made from the template.
        QFile::copy(QStringLiteral(ZOVEVA_SOURCE_PADRAO), Folder.filePath(QStringLiteral("padrao.xml")));
        CreateAndShow();
        Clock.Advance(100);
        Script.lastState = EncoderRunState::Running;
        Clock.Advance(1000);
        TFrm_Config* config = Window->Frm_Config();
        Click(Window->BConfig);
        config->EdRadio->setText(QStringLiteral("R\u00e1dio Nova"));
        config->EdUsuario->setText(newUser ? QStringLiteral("jose") : QStringLiteral("demo"));
        config->EdSenha->setText(QStringLiteral("demo"));
        const int created = Script.created;
        const int stops = Script.Count("Stop");

        Click(config->SkMMButton1);
        EXPECT_TRUE(MessageBoxes.errors.isEmpty())
            << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
        const QByteArray cfg = ReadFile("cfg.ini");
        EXPECT_TRUE(cfg.contains(newUser ? "Usuario=jose\r\n" : "Usuario=demo\r\n")) << cfg.constData();
        EXPECT_TRUE(cfg.contains("Senha=\xbb\xba\xb2\xb0\r\n")) << "scrambled \"demo\"";
        EXPECT_TRUE(cfg.contains("Radio=R\xe1"
                                 "dio Nova\r\n"));
        EXPECT_EQ(Window->Controller().Settings().Senha, "demo");
        const QString user = newUser ? QStringLiteral("jose") : QStringLiteral("demo");
        EXPECT_TRUE(ReadFile((user + QStringLiteral(".xml")).toLatin1().constData())
                        .contains("R\xc3\xa1"
                                  "dio Nova"));
        ASSERT_FALSE(Browser->posts.empty());
        EXPECT_EQ(Browser->posts.back().Body, "Usuario=" + user.toLatin1() + "&Senha=demo");
        EXPECT_EQ(Script.Count("Stop"), stops + 1);
        EXPECT_EQ(Script.created, created + (newUser ? 2 : 1));
        EXPECT_TRUE(Window->WaveIn().Started());
        EXPECT_FALSE(config->isVisible());
        Window.reset();
        QFile::remove(Folder.filePath(QStringLiteral("jose.xml")));
    }
}

// The first start in an empty folder: the operator fills in the modal window and saves, and the
// station is on its way to the air.
TEST_F(MainWindow, FirstStartEndsWithASavedRunningStation)
{
    WriteFile("zoveva-encoder", "#!/bin/sh\n");
    QFile::copy(QStringLiteral(ZOVEVA_SOURCE_PADRAO), Folder.filePath(QStringLiteral("padrao.xml")));
    AddLanguageFile();
    CreateAndShow();
    bool modal = false;
    FirstStartWithSettingsWindow([&](TFrm_Config& config) {
        modal = config.isModal();
        config.EdUsuario->setText(QStringLiteral("maria"));
        config.EdSenha->setText(QStringLiteral("segredo"));
        config.EdRadio->setText(QStringLiteral("Minha R\u00e1dio"));
        Click(config.SkMMButton1);
    });
    EXPECT_TRUE(modal);
    EXPECT_FALSE(Window->Frm_Config()->isVisible());
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Usuario=maria\r\n"));
    EXPECT_TRUE(QFile::exists(Folder.filePath(QStringLiteral("maria.xml"))));
    EXPECT_EQ(Script.created, 2) << "a new user name starts the encoder twice";
    EXPECT_TRUE(Window->WaveIn().Started());
}

// The account page's limit reaches the controller after each load.
TEST_F(MainWindow, AccountPageLimitReachesTheStation)
{
    PrepareUser();
    CreateAndShow();
    Clock.Advance(100);
    ASSERT_EQ(Browser->posts.size(), 1U) << "posted at the first show";
    EXPECT_EQ(Browser->posts[0].Url.toString(), "http://info.0.0.1");
    const int created = Script.created;
    emit Browser->PageLoaded(QStringLiteral("96"));
    EXPECT_EQ(Window->Controller().Settings().Kbps, "96000");
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Kbps=96000\r\n"));
    EXPECT_EQ(Script.created, created + 1);
    emit Browser->PageLoaded(QStringLiteral("abc"));
    emit Browser->PageLoaded(std::nullopt);
    EXPECT_EQ(Window->Controller().Settings().Kbps, "96000");
    EXPECT_EQ(Script.created, created + 1);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty());
}

} // namespace

namespace {

// Without pavucontrol, alsamixer or a terminal on the PATH, the recording-settings button says what to
// install instead of failing silently.
TEST_F(MainWindow, RecordingSettingsWithoutAnyToolSaysWhatToInstall)
{
    PrepareUser();
    CreateAndShow();
    Click(Window->BConfig);
    QTemporaryDir empty;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    // The button lies under the mixer panel; it is reachable where the panel is hidden (a sound server).
    Window->Frm_Config()->PControles->hide();
    Click(Window->Frm_Config()->SkMMButton3);
    qputenv("PATH", path);
    ASSERT_EQ(MessageBoxes.messages.size(), 1);
    EXPECT_TRUE(MessageBoxes.messages[0].contains(QStringLiteral("pavucontrol")));
    EXPECT_TRUE(MessageBoxes.messages[0].contains(QStringLiteral("alsamixer")));
    EXPECT_TRUE(MessageBoxes.errors.isEmpty());
}

} // namespace

namespace {

// The synthetic cards behind the session's sound server, if one answers: what the ALSA binding says
// on a desktop with PipeWire or PulseAudio.
struct CardsBehindServer final : zv::WaveInOps {
    explicit CardsBehindServer(std::unique_ptr<zv::WaveInOps> cards)
        : cards(std::move(cards))
    {
    }
    const char* Name() const override { return cards->Name(); }
    int GetNumDevs() override { return cards->GetNumDevs(); }
    int GetDevCaps(int id, TWaveInCaps& caps) override { return cards->GetDevCaps(id, caps); }
    int GetDevCapsWithoutFormats(int id, TWaveInCaps& caps) override
    {
        return cards->GetDevCapsWithoutFormats(id, caps);
    }
    int GetErrorText(int code, char* text, std::size_t size) override
    {
        return cards->GetErrorText(code, text, size);
    }
    int Open(zv::WaveInHandle* handle, int id, const TWaveFormatEx& format, zv::WaveInCallback callback,
        void* instance, unsigned flags) override
    {
        return cards->Open(handle, id, format, callback, instance, flags);
    }
    int Close(zv::WaveInHandle h) override { return cards->Close(h); }
    int PrepareHeader(zv::WaveInHandle h, TWaveHdr* header) override
    {
        return cards->PrepareHeader(h, header);
    }
    int UnprepareHeader(zv::WaveInHandle h, TWaveHdr* header) override
    {
        return cards->UnprepareHeader(h, header);
    }
    int AddBuffer(zv::WaveInHandle h, TWaveHdr* header) override { return cards->AddBuffer(h, header); }
    int Start(zv::WaveInHandle h) override { return cards->Start(h); }
    int Stop(zv::WaveInHandle h) override { return cards->Stop(h); }
    int Reset(zv::WaveInHandle h) override { return cards->Reset(h); }
    int GetPosition(zv::WaveInHandle h, TMMTime& time) override { return cards->GetPosition(h, time); }
    int GetID(zv::WaveInHandle h, int* id) override { return cards->GetID(h, id); }
    // The base's answer: the real look at the session's sockets.
    std::unique_ptr<zv::WaveInOps> cards;
};

// With a sound server owning the devices, the capture takes the default device (0) whatever card is
// chosen, while the chosen card stays in cfg.ini and its name in the encoding file; the mixer panel
// never shows, so the recording-settings button under it is reachable.
TEST_F(MainWindow, WithASoundServerCaptureUsesDeviceZeroAndTheChosenCardIsKept)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(QDir(runtime.path()).mkdir(QStringLiteral("pulse")));
    const QByteArray socketPath = runtime.filePath(QStringLiteral("pulse/native")).toLocal8Bit();
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 8), 0);
    const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray pulseBefore = qgetenv("PULSE_RUNTIME_PATH");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qunsetenv("PULSE_RUNTIME_PATH");

    Binding = std::make_unique<CardsBehindServer>(std::move(Binding));
    PrepareUser("1");
    AddLanguageFile();
    CreateAndShow();
    Clock.Advance(100);
    TFrm_Config* config = Window->Frm_Config();
    ASSERT_GE(config->CBPlacas->count(), 2);
    const QString card = config->CBPlacas->itemText(1);
    ASSERT_NE(card, config->CBPlacas->itemText(0));
    EXPECT_EQ(config->CBPlacas->currentIndex(), 1);
    EXPECT_EQ(Window->WaveIn().DeviceID(), 0);
    EXPECT_TRUE(ReadFile("demo.xml").contains(card.toUtf8()));

    for (TSkMMButton* open : { Window->BConfig, Window->BInfo, Window->BConfig }) {
        Click(open);
        EXPECT_FALSE(config->PControles->isVisible())
            << "no mixer panel while a sound server owns the devices";
    }
    EXPECT_TRUE(config->SkMMButton3->isVisible());
    config->EdSenha->setText(QStringLiteral("demo"));
    Click(config->SkMMButton1);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Placa=1\r\n"));
    EXPECT_TRUE(ReadFile("demo.xml").contains(card.toUtf8()));
    EXPECT_EQ(Window->WaveIn().DeviceID(), 0);
    EXPECT_TRUE(Window->WaveIn().Started());

    Window.reset();
    if (runtimeBefore.isNull()) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        qputenv("XDG_RUNTIME_DIR", runtimeBefore);
    }
    if (!pulseBefore.isNull()) {
        qputenv("PULSE_RUNTIME_PATH", pulseBefore);
    }
    ::close(server);
}

} // namespace

namespace {

QStringList ItemTexts(const QComboBox& list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i) {
        texts << list.itemText(i);
    }
    return texts;
}

// The sources the recording selector has switched on, by name.
QStringList Recorded(TFrm_Config& config)
{
    TMMMixerControl& selector = *config.MixerLineInRec;
    QStringList on;
    for (int i = 0; i < selector.Items(); ++i) {
        if (selector.GetItemBool(0, i)) {
            on << selector.ItemInfo(i).Name;
        }
    }
    return on;
}

// An operator's pick in a drop-down list.
void Choose(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// The mixer panel on the card's in-memory mixer: the control list has one entry per source of the
// recording, in type order, under the line's name (also after the window was translated); the saved
// input is recorded; the operator's choice records another and moves the knobs and the mute box to
// it; closing without saving brings the saved input back, and a save keeps the new one.
TEST_F(MainWindow, MixerPanelRecordsTheChosenInputAndClosingUndoesATry)
{
    PrepareUser("0", "1");
    AddLanguageFile();
    CreateAndShow();
    Clock.Advance(100);
    TFrm_Config* config = Window->Frm_Config();
    Click(Window->BConfig);
    EXPECT_TRUE(config->PControles->isVisible());
    EXPECT_EQ(config->PlacaDevice->DeviceId(), 0);
    EXPECT_TRUE(config->PlacaDevice->Active());
    ASSERT_EQ(ItemTexts(*config->CBControle),
        (QStringList {
            QStringLiteral("CD Audio"), QStringLiteral("Line In"), QStringLiteral("Microphone") }));
    const auto& types = config->ControlTypes();
    EXPECT_EQ(types[0], ctSrcCD);
    EXPECT_EQ(types[1], ctSrcLine);
    EXPECT_EQ(types[2], ctSrcMicrophone);
    EXPECT_EQ(config->CBControle->currentIndex(), 1);
    EXPECT_EQ(Recorded(*config), QStringList { QStringLiteral("Line In") });
    // The knob shows a control value to within one of its steps.
    const auto shows = [&](TMMMixerWheel* knob, double value) {
        return std::abs(knob->Value() * double(knob->Step()) - value) <= double(knob->Step());
    };
    EXPECT_TRUE(config->Volume->isEnabled());
    EXPECT_TRUE(shows(config->Volume, 45000)) << "Line In's recording volume";
    EXPECT_FALSE(config->CBLineIn->isChecked()) << "Line In is heard";
    EXPECT_EQ(config->CBLineIn->text(), QStringLiteral("Desativar retorno"));

    Choose(config->CBControle, 2);
    EXPECT_EQ(Recorded(*config), QStringList { QStringLiteral("Microphone") });
    EXPECT_TRUE(shows(config->Volume, 40000)) << "the microphone's recording volume";
    EXPECT_TRUE(shows(config->MMMixerWheel1, 32768)) << "the microphone as heard";
    EXPECT_EQ(config->AudioLineIn->LineInfo().Name, QStringLiteral("Microphone"));
    EXPECT_TRUE(config->CBLineIn->isChecked()) << "the microphone is not heard";
    // The knob acts on the microphone's recording volume.
    config->Volume->SetValue(config->Volume->Maximum() / 4);
    EXPECT_TRUE(shows(config->Volume, config->ControleVolumeRec->GetUnsigned()));
    EXPECT_LT(config->ControleVolumeRec->GetUnsigned(), 20000u);

    Click(config->BFechar);
    EXPECT_FALSE(config->isVisible());
    EXPECT_EQ(config->CBControle->currentIndex(), 1);
    EXPECT_EQ(Recorded(*config), QStringList { QStringLiteral("Line In") });
    EXPECT_FALSE(config->CBLineIn->isChecked());

    Click(Window->BConfig);
    EXPECT_EQ(config->CBControle->itemText(0), QStringLiteral("CD Audio")) << "not the built-in entry";
    Choose(config->CBControle, 0);
    config->EdSenha->setText(QStringLiteral("demo"));
    Click(config->SkMMButton1);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(ReadFile("cfg.ini").contains("Controle=0\r\n"));
    EXPECT_EQ(Recorded(*config), QStringList { QStringLiteral("CD Audio") });
}

// The card decides the mixer, matched by name without regard to case: "OmniaAX" leaves the mixer and
// its list as they are; a card with no mixer of its name gives device id -1, an empty list and
// knobs that do nothing, with no error.
TEST_F(MainWindow, MixerFollowsTheCardByNameButNotOmniaAX)
{
    const auto cards = zv::SyntheticDevicesFromEnvironment();
    ASSERT_GE(cards.size(), 2u);
    Mixers = zv::MakeMemoryMixer({ zv::SyntheticMixerTable("Another card"),
        zv::SyntheticMixerTable(QString::fromStdString(cards[0].name).toUpper().toStdString()) });
    PrepareUser("0", "1");
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    EXPECT_EQ(config->PlacaDevice->DeviceId(), 1);
    const QStringList list = ItemTexts(*config->CBControle);
    EXPECT_EQ(list.size(), 3);

    config->CBPlacas->addItem(QStringLiteral("OmniaAX"));
    Choose(config->CBPlacas, config->CBPlacas->count() - 1);
    EXPECT_EQ(config->PlacaDevice->DeviceId(), 1);
    EXPECT_EQ(ItemTexts(*config->CBControle), list);
    EXPECT_EQ(config->CBControle->currentIndex(), 1);

    Choose(config->CBPlacas, 1);
    EXPECT_EQ(config->PlacaDevice->DeviceId(), -1);
    EXPECT_EQ(config->ComboPlaca->currentIndex(), -1);
    EXPECT_EQ(config->CBControle->count(), 0);
    EXPECT_FALSE(config->Volume->isEnabled());
    EXPECT_FALSE(config->MMMixerWheel1->isEnabled());
    EXPECT_FALSE(config->CBLineIn->isEnabled());
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
}

// A card that goes away while its mixer is open empties the panel (the device reports the change of
// its own and the list is built again) and is reported once; chosen again once it is back, its inputs
// return.
TEST_F(MainWindow, ACardThatGoesAwayEmptiesThePanelUntilChosenAgain)
{
    QStringList reported;
    zv::SetApplicationErrorHandler(
        [&](const std::exception& error) { reported << QString::fromUtf8(error.what()); });
    struct Uninstall {
        ~Uninstall() { zv::SetApplicationErrorHandler({}); }
    } uninstall;
    PrepareUser("0", "1");
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    ASSERT_EQ(config->CBControle->count(), 3);
    ASSERT_TRUE(config->PlacaDevice->Active());

    Mixers->Disconnect(0);
    QApplication::processEvents();
    EXPECT_EQ(reported.size(), 1) << reported.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(config->CBControle->count(), 0);
    EXPECT_FALSE(config->Volume->isEnabled());
    EXPECT_FALSE(config->CBLineIn->isEnabled());

    Mixers->Reconnect(0);
    Choose(config->CBPlacas, 0);
    EXPECT_EQ(config->CBControle->count(), 3);
    EXPECT_TRUE(config->PlacaDevice->Active());
    EXPECT_TRUE(config->Volume->isEnabled());
    EXPECT_EQ(reported.size(), 1);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
}

// A mixer whose recording has no inputs of its own, as a sound server's mixer through ALSA shows
// ("Master" and "Capture"): the recording knob and the box act on the recording itself, and a line in
// the open language says why where the control list was; a card with inputs brings the panel as it
// was. Nothing of this is written to cfg.ini.
TEST_F(MainWindow, MixerWithoutInputsPutsTheKnobAndTheBoxOnTheRecordingItself)
{
    using namespace zv::mixer;
    const auto cards = zv::SyntheticDevicesFromEnvironment();
    ASSERT_GE(cards.size(), 2u);
    zv::MemoryMixerTable server;
    server.name = cards[0].name;
    server.destinations = {
        test::Line(DstSpeakers, "Playback",
            { test::Control(CtlVolume, "Master", { 30000, 30000 }),
                test::Control(CtlMute, "Master", { 0 }, ControlUniform, 1) }),
        test::Line(DstWaveIn, "Recording",
            { test::Control(CtlVolume, "Capture", { 20000, 20000 }),
                test::Control(CtlMute, "Capture", { 0 }, ControlUniform, 1) }),
    };
    Mixers = zv::MakeMemoryMixer({ server, zv::SyntheticMixerTable(cards[1].name) });
    PrepareUser("0", "1");
    AddLanguageFile();
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    Click(Window->BConfig);
    ASSERT_TRUE(config->PControles->isVisible());
    const auto shows = [](TMMMixerWheel* knob, double value) {
        return std::abs(knob->Value() * double(knob->Step()) - value) <= double(knob->Step());
    };

    EXPECT_TRUE(config->RecordsDestination());
    EXPECT_EQ(config->CBControle->count(), 0);
    EXPECT_FALSE(config->CBControle->isVisible());
    EXPECT_FALSE(config->LControle->isVisible());
    EXPECT_TRUE(config->LSemEntradas->isVisible());
    EXPECT_EQ(config->LSemEntradas->text(), zv::BuiltInResString(zv::SMixerWithoutInputs));
    EXPECT_FALSE(config->CBLineIn->isVisible());
    ASSERT_TRUE(config->CBGravacao->isVisible());
    EXPECT_TRUE(config->CBGravacao->isEnabled());
    EXPECT_EQ(config->CBGravacao->text(), zv::BuiltInResString(zv::SMuteRecording));
    EXPECT_FALSE(config->MMMixerWheel1->isEnabled()) << "nothing of the recording is heard";
    ASSERT_TRUE(config->Volume->isEnabled());
    EXPECT_TRUE(shows(config->Volume, 20000)) << "the recording's own volume";

    // Both act on the recording, and follow another program's changes of it.
    config->Volume->SetValue(config->Volume->Maximum() * 3 / 4);
    EXPECT_NEAR(double(config->ControleGravacao->GetUnsigned()), 49151.0, double(config->Volume->Step()));
    config->CBGravacao->setChecked(true);
    EXPECT_TRUE(config->MixerGravacao->GetBool());
    const TMMControlId volume = config->ControleGravacao->ControlId();
    ASSERT_EQ(Mixers->SetValuesFromOutside(0, std::uint32_t(volume), { 10000, 10000 }), 0);
    ASSERT_EQ(Mixers->SetValuesFromOutside(0, std::uint32_t(config->MixerGravacao->ControlId()), { 0 }), 0);
    QApplication::processEvents();
    EXPECT_TRUE(shows(config->Volume, 10000));
    EXPECT_FALSE(config->CBGravacao->isChecked());

    // A language preview puts both texts in that language, closing without saving back.
    emit config->CBIdiomas->activated(1);
    EXPECT_EQ(config->LSemEntradas->text(),
        QStringLiteral("No inputs of its own: Recording sets the card's capture."));
    EXPECT_EQ(config->CBGravacao->text(), QStringLiteral("Mute the recording"));
    Click(config->BFechar);
    EXPECT_EQ(config->CBGravacao->text(), zv::BuiltInResString(zv::SMuteRecording));

    // A card with inputs: the panel as it always was.
    Click(Window->BConfig);
    Choose(config->CBPlacas, 1);
    EXPECT_FALSE(config->RecordsDestination());
    EXPECT_EQ(config->CBControle->count(), 3);
    EXPECT_TRUE(config->CBControle->isVisible());
    EXPECT_TRUE(config->LControle->isVisible());
    EXPECT_FALSE(config->LSemEntradas->isVisible());
    EXPECT_TRUE(config->CBLineIn->isVisible());
    EXPECT_FALSE(config->CBGravacao->isVisible());
    EXPECT_EQ(config->Volume->Control(), config->ControleVolumeRec);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
}

// A saved Controle beyond the card's list selects nothing and leaves the lines and the recording
// source as the card has them: nothing is written to the mixer.
TEST_F(MainWindow, ControleBeyondTheListLeavesTheMixerAlone)
{
    PrepareUser("0", "7");
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    EXPECT_EQ(config->CBControle->count(), 3);
    EXPECT_EQ(config->CBControle->currentIndex(), -1);
    EXPECT_EQ(config->AudioLineIn->ComponentType(), ctSrcLine);
    EXPECT_EQ(config->AudioLineInRec->ComponentType(), ctSrcLine);
    EXPECT_EQ(Recorded(*config), QStringList { QStringLiteral("Line In") });
    EXPECT_EQ(Mixers->WriteCount(), 0u);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
}

} // namespace

// The displays' device fails while capturing (as a card pulled out, or a sound server that ended): the
// failure is logged once, the dead-air alarm then says there is no input device rather than silence,
// and the device is opened again on the retry timer, which is logged too and clears the alarm.
TEST_F(MainWindow, CaptureThatFailsIsTriedAgainAndTheDeadAirAlarmSaysNoInputMeanwhile)
{
    zv::SyntheticDevice tone;
    tone.name = "Synthetic tone 1 kHz";
    tone.failAfterFrames = 44100 / 4; // every open captures a quarter of a second, then fails
    Binding = zv::MakeSyntheticWaveIn({ tone });
    PrepareUser();
    QFile cfg(Folder.filePath(QStringLiteral("cfg.ini")));
    ASSERT_TRUE(cfg.open(QIODevice::Append));
    cfg.write("SilencioTempo=1\r\n");
    cfg.close();
    CreateAndShow();
    ASSERT_TRUE(Window->WaveIn().Started());

    const QString failed = QStringLiteral("O dispositivo de entrada \"Synthetic tone 1 kHz\" falhou");
    ASSERT_TRUE(zv::test::PumpUntil([&] { return Window->CaptureLost(); }));
    EXPECT_FALSE(Window->WaveIn().Started());
    EXPECT_EQ(Log().count(failed), 1) << Log().toStdString();
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << "the operator is told by the alarm, not by a box";
    // Back from the tray meanwhile: a return, not a first show again (no second account request).
    const std::size_t posts = Browser->posts.size();
    Window->hide();
    Window->show();
    QApplication::processEvents();
    EXPECT_EQ(Browser->posts.size(), posts);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty());
    EXPECT_TRUE(Window->CaptureLost());

    // One tick of the alarm later (its time is 1 s): no input device, and since when.
    Clock.Advance(1000);
    EXPECT_TRUE(
        Log().contains(QStringLiteral("Sil\u00eancio no ar: nenhum dispositivo de entrada h\u00e1 1 s")))
        << Log().toStdString();
    EXPECT_TRUE(Window->TrayToolTip().startsWith(
        QStringLiteral("ATEN\u00c7\u00c3O: nenhum dispositivo de entrada desde ")))
        << Window->TrayToolTip().toStdString();

    // The retry, 2 s after the failure, captures again (nothing else has run on the event loop).
    Clock.Advance(TFrm_ZoVeva::CaptureRetryMs - 1000);
    EXPECT_TRUE(Window->WaveIn().Started());
    EXPECT_FALSE(Window->CaptureLost());
    EXPECT_TRUE(
        Log().contains(QStringLiteral("O dispositivo de entrada \"Synthetic tone 1 kHz\" voltou depois de")))
        << Log().toStdString();
    Clock.Advance(1000);
    EXPECT_FALSE(Window->TrayToolTip().contains(QStringLiteral("nenhum dispositivo"))) << "the alarm cleared";
    EXPECT_EQ(Log().count(failed), 1);
}

// Names and passwords as the operator types or pastes them into the settings window: what cfg.ini
// cannot keep is refused by a message naming the field (and, but for the password, the characters),
// before anything changes; pasted line breaks are gone from the field as it takes the text.
TEST_F(MainWindow, TypedOrPastedFieldsTheFileCannotKeepAreRefusedByNameAndLineBreaksDropped)
{
    const QString tail = QStringLiteral(
        ": o cfg.ini guarda uma s\u00f3 linha de texto Windows-1252 (as letras e sinais das l\u00ednguas da "
        "Europa Ocidental)");
    enum Field { Radio, Usuario, Senha };
    const struct {
        Field field;
        bool pasted; // else typed
        QString text;
        QString shown; // what the field then holds
        QString refusal; // empty: saved
        QByteArray stored; // the key's line in cfg.ini when saved
    } cases[] = {
        { Radio, false, QStringLiteral("R\u00e1dio \u5317\u4eac"), QStringLiteral("R\u00e1dio \u5317\u4eac"),
            QStringLiteral("O nome da r\u00e1dio n\u00e3o pode conter \"\u5317\", \"\u4eac\"") + tail, {} },
        { Radio, false, QStringLiteral("R\u00e1dio \u20ac \u201cAo vivo\u201d"),
            QStringLiteral("R\u00e1dio \u20ac \u201cAo vivo\u201d"), {},
            "Radio=R\xe1"
            "dio \x80 \x93"
            "Ao vivo\x94\r\n" },
        { Radio, true, QStringLiteral("R\u00e1dio\r\nNova\n"), QStringLiteral("R\u00e1dioNova"), {},
            "Radio=R\xe1"
            "dioNova\r\n" },
        { Usuario, false, QStringLiteral("\u738b"), QStringLiteral("\u738b"),
            QStringLiteral("O nome de usu\u00e1rio n\u00e3o pode conter \"\u738b\"") + tail, {} },
        { Usuario, true, QStringLiteral("maria\n"), QStringLiteral("maria"), {}, "Usuario=maria\r\n" },
        { Senha, false, QStringLiteral("\u5bc6\u7801"), QStringLiteral("\u5bc6\u7801"),
            QStringLiteral(
                "A senha tem um caractere que o cfg.ini n\u00e3o pode guardar: ele guarda uma s\u00f3 "
                "linha de texto Windows-1252 (as letras e sinais das l\u00ednguas da Europa Ocidental), "
                "sem caracteres de controle"),
            {} },
        { Senha, true, QStringLiteral("\r\nsegredo\u2028\r\n"), QStringLiteral("segredo"), {},
            "Senha=" + ScramblePassword("segredo") + "\r\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        PrepareUser();
        // A new user's encoding file is made from it.
        QFile::copy(QStringLiteral(ZOVEVA_SOURCE_PADRAO), Folder.filePath(QStringLiteral("padrao.xml")));
        AddLanguageFile();
        CreateAndShow();
        Clock.Advance(100);
        TFrm_Config* config = Window->Frm_Config();
        Click(Window->BConfig);
        config->EdSenha->setText(QStringLiteral("demo"));
        QLineEdit* field = c.field == Radio ? config->EdRadio
            : c.field == Usuario            ? config->EdUsuario
                                            : config->EdSenha;
        field->clear();
        if (c.pasted) {
            QApplication::clipboard()->setText(c.text);
            field->paste();
        } else {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, c.text);
            QApplication::sendEvent(field, &key);
        }
        EXPECT_EQ(field->text(), c.shown);
        const QByteArray cfg = ReadFile("cfg.ini");
        const int created = Script.created;
        MessageBoxes.errors.clear();

        Click(config->SkMMButton1);
        if (c.refusal.isEmpty()) {
            EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(u'\n').toStdString();
            EXPECT_TRUE(ReadFile("cfg.ini").contains(c.stored)) << ReadFile("cfg.ini").constData();
            EXPECT_FALSE(config->isVisible()) << MessageBoxes.messages.join(u'\n').toStdString();
        } else {
            EXPECT_EQ(MessageBoxes.errors, QStringList { c.refusal });
            EXPECT_EQ(ReadFile("cfg.ini"), cfg);
            EXPECT_EQ(Script.created, created);
            EXPECT_TRUE(config->isVisible());
            EXPECT_TRUE(Log().contains(QStringLiteral("ESettingsFieldError"))) << Log().toStdString();
        }
        // Refused or saved, the displays go on.
        EXPECT_TRUE(Window->WaveIn().Started());
        Window.reset();
        QFile::remove(Folder.filePath(QStringLiteral("ZoVeva.log")));
        QFile::remove(Folder.filePath(QStringLiteral("maria.xml")));
    }
}

// Placa is a place in the device list, and that list's order changes (plug-ins after the cards): at
// the start the device the user's encoding file names wins over an index that now points elsewhere;
// a save then writes the operator's choice, which the file follows, and is not undone by the old file.
TEST_F(MainWindow, PlacaFollowsTheDeviceTheEncodingFileNamesUntilTheOperatorSaves)
{
    const struct {
        const char* placa;
        const char* inputSource;
        const char* selected;
    } cases[] = {
        { "0", "Synthetic silence", "Synthetic silence" }, // the index points at another device now
        { "1", "Synthetic silence", "Synthetic silence" },
        { "1", "a card that is away", "Synthetic silence" }, // names nothing: Placa stands
        { "0", "", "Synthetic tone 1 kHz" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("Placa=") + c.placa + " InputSource=" + c.inputSource);
        QFile::remove(Folder.filePath(QStringLiteral("demo.xml")));
        PrepareUser(c.placa);
        AddLanguageFile();
        QByteArray xml = ReadFile("demo.xml");
        ASSERT_TRUE(xml.contains("InputSource=\"\""));
        WriteFile(
            "demo.xml", xml.replace("InputSource=\"\"", "InputSource=\"" + QByteArray(c.inputSource) + '"'));
        CreateAndShow();
        TFrm_Config* config = Window->Frm_Config();
        EXPECT_EQ(config->CBPlacas->currentText(), QString::fromUtf8(c.selected));
        EXPECT_EQ(Window->WaveIn().FullProductName(), QString::fromUtf8(c.selected))
            << "the capture's device";
        Clock.Advance(100); // the start rebuilds the encoding file from the selection
        EXPECT_TRUE(ReadFile("demo.xml").contains("InputSource=\"" + QByteArray(c.selected) + '"'))
            << ReadFile("demo.xml").constData();
        EXPECT_TRUE(ReadFile("cfg.ini").contains("Placa=" + QByteArray(c.placa) + "\r\n"))
            << "written by a save only";

        // The operator chooses the tone and saves: Placa and the file say so, and the dialog keeps it.
        Click(Window->BConfig);
        config->EdSenha->setText(QStringLiteral("demo"));
        config->CBPlacas->setCurrentIndex(0);
        emit config->CBPlacas->activated(0);
        Click(config->SkMMButton1);
        EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join('\n').toStdString();
        EXPECT_TRUE(ReadFile("cfg.ini").contains("Placa=0\r\n"));
        EXPECT_TRUE(ReadFile("demo.xml").contains("InputSource=\"Synthetic tone 1 kHz\""));
        EXPECT_EQ(config->CBPlacas->currentText(), QStringLiteral("Synthetic tone 1 kHz"));
        Window.reset();
    }
}

// Names longer than the settings window's boxes: whole where they fit, otherwise ended after a whole
// word with an ellipsis; the open list shows them whole. Fonts differ between machines, so what is
// checked is the rule, not the pixels.
TEST_F(MainWindow, LongNamesInTheSettingsBoxesEndAtAWholeWord)
{
    PrepareUser();
    AddLanguageFile();
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    Click(Window->BConfig);
    const QString longCard = QStringLiteral("Rate Converter Plugin Using Samplerate Library");
    config->CBPlacas->addItem(longCard);
    config->CBPlacas->setCurrentIndex(config->CBPlacas->count() - 1);
    const int english = config->CBIdiomas->findText(QStringLiteral("English (United States)"));
    ASSERT_GE(english, 0);
    config->CBIdiomas->setCurrentIndex(english);
    QApplication::processEvents();

    const QString ellipsis(QChar(0x2026));
    // Whole, or a head of the text that ends where a word does (not on a blank or an open bracket).
    const auto checkShown = [&](const QString& text, const QString& shown, int width, const QFontMetrics& m) {
        SCOPED_TRACE(QString(text + QStringLiteral(" -> ") + shown).toStdString());
        EXPECT_LE(m.horizontalAdvance(shown), width);
        if (shown == text) {
            return;
        }
        ASSERT_TRUE(shown.endsWith(ellipsis));
        const QString head = shown.chopped(1);
        ASSERT_TRUE(text.startsWith(head));
        if (head.contains(u' ')) { // a single word too long for the box is cut where it must be
            EXPECT_FALSE(text[head.size()].isLetterOrNumber()) << "cut inside a word";
            EXPECT_TRUE(head.back().isLetterOrNumber() || head.back() == u')');
        }
    };
    for (QComboBox* box : { config->CBIdiomas, config->CBPlacas }) {
        auto* elided = dynamic_cast<zv::TWordElideComboBox*>(box);
        ASSERT_NE(elided, nullptr) << box->objectName().toStdString();
        checkShown(box->currentText(), elided->ShownText(), box->width(), box->fontMetrics());

        box->showPopup();
        QApplication::processEvents();
        EXPECT_GE(box->view()->width(), box->view()->fontMetrics().horizontalAdvance(box->currentText()))
            << "the list shows the names whole";
        box->hidePopup();
    }
    const QFontMetrics metrics = config->CBPlacas->fontMetrics();
    for (const QString& text : { longCard, QStringLiteral("English (United States)"),
             QStringLiteral("Synthetic tone 1 kHz"), QStringLiteral("Supercalifragilisticexpialidocious"),
             QStringLiteral("Plugin for channel upmix (4,6,8)") }) {
        for (const int width : { 30, 60, 100, 146, 2000 }) {
            checkShown(text, zv::ElideAtWord(text, metrics, width), width, metrics);
        }
    }
}

// A device named longer than 31 bytes: the card list shows it whole, and its mixer, whose name is
// cut to 31 bytes as mixers' names are, is still the one the panel follows.
TEST_F(MainWindow, ALongCardNameIsListedWholeAndFindsItsMixer)
{
    const std::string longName = "WAV the station's morning jingle, full length.wav";
    Binding = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Tone, "Synthetic tone 1 kHz" },
        { zv::SyntheticDevice::WavFile, longName, "/nonexistent/jingle.wav" } });
    Mixers
        = zv::MakeMemoryMixer({ zv::SyntheticMixerTable("Another card"), zv::SyntheticMixerTable(longName) });
    PrepareUser("0", "1");
    CreateAndShow();
    TFrm_Config* config = Window->Frm_Config();
    ASSERT_EQ(config->CBPlacas->count(), 2);
    EXPECT_EQ(config->CBPlacas->itemText(1), QString::fromStdString(longName));

    Choose(config->CBPlacas, 1);
    EXPECT_EQ(config->PlacaDevice->DeviceId(), 1);
    EXPECT_GT(config->CBControle->count(), 0);
    EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << MessageBoxes.errors.join(QLatin1Char('\n')).toStdString();
}
