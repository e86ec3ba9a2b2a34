#include "station/U_ZoVeva.h"

#include "audio/MMConect.h"
#include "audio/MMWavIn.h"
#include "displays/MMColors.h"
#include "displays/MMDIBCv.h"
#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MMOscope.h"
#include "displays/MMSpectr.h"
#include "displays/MainDisplays.h"
#include "platform/ResStrings.h"
#include "skin/SkMMButton.h"
#include "skin/SkPng.h"
#include "skin/SkShapedForm.h"
#include "skin/skcont.h"
#include "station/EncodingFile.h"
#include "station/LcUnit.h"
#include "station/LcWidgets.h"
#include "station/Messages.h"
#include "station/StationStrings.h"
#include "station/StationVersion.h"
#include "station/StrToInt.h"
#include "station/U_Config.h"
#include "station/ZoVevaApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScreen>
#include <QStringList>
#include <QTime>
#include <QTimer>
#include <algorithm>

namespace {

// The language the windows are built in: Portuguese (Brazil).
constexpr std::uint32_t kBuiltInLanguage = 1046;

// The status line's dead-air alarm: amber, apart from the encoder's yellow, green and red.
constexpr TRgb kDeadAirColour { 255, 191, 0 };

// The hidden labels whose captions are the messages the controller shows, logs and puts in LStatus.
const char* const kMessageLabels[] = {
    "lblConectando",
    "lblConectado",
    "lblDesconectando",
    "lblDesconectado",
    "lblFoiExecutadoEncoder",
    "lblCodificadorNaoEncontrado",
    "lblNaoFoiEncontradoCodificador",
    "lblArquivoCodificacaoNaoEncontrado",
    "lblNaoFoiEncontradoArquivoCodificacao",
    "lblArquivosConfiguracaoPadraoNaoExistente",
};

QLabel* PanelText(QWidget* parent, const char* name, const QString& text, const QRect& place)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    label->setFont(zv::MakePixelFont(QStringLiteral("Small Fonts"), 9));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    return label;
}

QIcon IconFrom(const QString& resource)
{
    return QIcon(QPixmap::fromImage(QImage(resource)));
}

// Placa is a place in the device list, whose order has changed (plug-ins after the cards): the device
// the user's encoding file names is the one the station has been capturing from. In memory only;
// the operator's next save writes the place it has now. Not after a save: the file then still
// names the device the operator has just left.
void MatchSavedSoundCard(TStationController& station, zv::WaveInOps& binding)
{
    try {
        const int placa = StrToInt(station.Settings().Placa);
        const int device = SoundCardForPlaca(placa, station.UserEncodingFile(), binding);
        if (device != placa) {
            station.SetSoundCard(device);
        }
    } catch (const EConvertError&) {
        // SettingsToDialog reports it.
    } catch (const EEncodingFileError&) {
        // A user name that names no file: the rebuild reports it.
    }
}

} // namespace

TFrm_ZoVeva::TFrm_ZoVeva(std::filesystem::path programFolder, zv::IClock& clock, CoEncoderApp& encoders)
    : TFrm_ZoVeva(std::move(programFolder), clock, encoders, Options {})
{
}

TFrm_ZoVeva::TFrm_ZoVeva(
    std::filesystem::path programFolder, zv::IClock& clock, CoEncoderApp& encoders, Options options)
    : FOptions(std::move(options))
    , FLanguageFile(programFolder / "ZoVeva.lcf")
{
    zv::InstallStationFonts();
    zv::RegisterWidgetProps();
    setObjectName(QStringLiteral("Frm_ZoVeva"));
    setWindowTitle(ApplicationTitle());
    setFixedSize(327, 318);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    const zv::SkStoredObject form = zv::LoadWindowData(QStringLiteral(":/forms/Frm_ZoVeva.dat"));
    SkBitmapList2 = std::make_unique<TSkBitmapList>();
    SkBitmapList2->setObjectName(QStringLiteral("SkBitmapList2"));
    SkBitmapList2->LoadFrom(form.RequireChild("SkBitmapList2"));
    CreateControls();
    for (const char* name : { "BMinimizar", "BOcultar", "BFechar", "BConfig", "BEqualizer", "BInfo" }) {
        zv::SetUpProgramButton(
            findChild<TSkMMButton*>(QString::fromLatin1(name)), SkBitmapList2.get(), form.RequireChild(name));
    }
    CreateDisplays();
    CreateHiddenLabels();
    CreateTrayMenu();
    for (int i = 0; i < 4; ++i) {
        FImages[static_cast<std::size_t>(i)] = IconFrom(QStringLiteral(":/images/tray%1.png").arg(i + 1));
    }
    FMainIcon = IconFrom(QStringLiteral(":/images/mainicon.png"));

    FWaveIn = FOptions.WaveInBinding ? std::make_unique<TMMWaveIn>(*FOptions.WaveInBinding)
                                     : std::make_unique<TMMWaveIn>();
    FCapture = FOptions.WaveInBinding ? FOptions.WaveInBinding : &zv::DefaultWaveIn();
    FWaveIn->setObjectName(QStringLiteral("WaveIn"));
    ConfigureWaveIn();
    FConnector = std::make_unique<TMMConnector>();
    MMConnector1 = FConnector.get();
    MMConnector1->setObjectName(QStringLiteral("MMConnector1"));
    TMMConnector::SetEnterIdle(false);
    FWaveIn->SetOutput(MMConnector1);
    MMConnector1->SetLevel1(MMLevel1);
    MMConnector1->SetLevel2(MMLevel2);
    MMConnector1->SetMeter1(MMMeter1);
    MMConnector1->SetMeter2(MMMeter2);
    MMConnector1->SetOscope1(MMOscope2);
    MMConnector1->SetSpectrum1(MMSpectrum2);

    // Creation steps. The error handler comes first, so that errors of the later steps are shown and
    // logged like any other.
    FController
        = std::make_unique<TStationController>(std::move(programFolder), clock, encoders, *this, *this);
    if (auto* app = dynamic_cast<TZoVevaApplication*>(QCoreApplication::instance())) {
        app->SetErrorHandler([this](const std::exception& error) { FController->AppException(error); });
    }
    FTimerIcone = clock.CreateTimer();
    FTimerIcone->SetInterval(500);
    FController->SetTimerHandler(*FTimerIcone, [this] { OnTimerIcone(); });
    FTimerPopup = clock.CreateTimer();
    FTimerPopup->SetInterval(200);
    FController->SetTimerHandler(*FTimerPopup, [this] { OnTimerPopup(); });
    // The dead-air alarm listens to the blocks the connector takes, on the capture thread.
    MMConnector1->OnBufferReady = [detector = &FController->DeadAirDetector()](QObject*, PWaveHdr header) {
        if (header) {
            detector->Feed(header->lpData, static_cast<int>(header->dwBytesRecorded));
        }
    };
    FCaptureRetry = clock.CreateTimer();
    FCaptureRetry->SetInterval(CaptureRetryMs);
    FController->SetTimerHandler(*FCaptureRetry, [this] { RetryCapture(); });
    FWaveIn->OnError = [this](QObject*) { CaptureFailed(); };
    FController->Create();
    FController->Guard([this] { CreateLanguageList(); });
}

void TFrm_ZoVeva::CreateLanguageList()
{
    // Every language of the file, in its order; Portuguese (Brazil) unless cfg.ini chose one.
    CBIdiomas->clear();
    OpenLanguage(FLanguageFile, kBuiltInLanguage, AddLanguage, CBIdiomas);
    // The file is opened again for the language chosen below, or stays closed when none is.
    CloseLanguage();
    CBIdiomas->setCurrentIndex(CBIdiomas->findData(QVariant::fromValue(kBuiltInLanguage)));
    if (FController->Settings().iIdioma < 0) {
        FController->SetLanguage(CBIdiomas->currentIndex());
    }
    SelectLanguage(FController->Settings().iIdioma);
}

void TFrm_ZoVeva::SelectLanguage(int index)
{
    CBIdiomas->setCurrentIndex(index >= 0 && index < CBIdiomas->count() ? index : -1);
    if (zv::OpenSelectedLanguage(*CBIdiomas, FLanguageFile)) {
        TranslateForm(*this);
    }
}

TFrm_ZoVeva::~TFrm_ZoVeva()
{
    if (auto* app = dynamic_cast<TZoVevaApplication*>(QCoreApplication::instance())) {
        app->SetErrorHandler({});
    }
    // The tray icon goes with the window; the capture stops before the displays it feeds go away.
    FTrayIcon.reset();
    FWaveIn->OnError = nullptr;
    FWaveIn.reset();
    FCaptureRetry.reset();
    FConnector.reset();
    FConfig.reset();
    FController.reset();
}

void TFrm_ZoVeva::CreateControls()
{
    Skin = new TSkShapedForm(this);
    Skin->setObjectName(QStringLiteral("Skin"));
    Skin->move(2, 2);
    Skin->AlwaysMove = true;
    Skin->CaptionColor = qRgb(0, 0, 0);
    Skin->SetAutoSize(true);
    Skin->SetTransparent(true);
    Skin->SetPicture(QImage(QStringLiteral(":/skins/main.png")));
    Skin->SetActive(true);

    const auto button = [this](const char* name, int left, int top, const QString& hint) {
        auto* b = new TSkMMButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, top, 25, 25);
        b->setToolTip(hint);
        return b;
    };
    BMinimizar = button("BMinimizar", 277, 70, QStringLiteral("Minimizar"));
    BOcultar = button("BOcultar", 288, 92, QStringLiteral("Ocultar"));
    BFechar = button("BFechar", 295, 116, QStringLiteral("Sair"));
    BConfig = button("BConfig", 8, 215, QStringLiteral("Configura\u00e7\u00f5es"));
    BEqualizer = button("BEqualizer", 20, 236, QStringLiteral("Display"));
    BInfo = button("BInfo", 36, 255, QStringLiteral("Informa\u00e7\u00e3o"));
    connect(BMinimizar, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::BMinimizarClick);
    connect(BOcultar, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::BOcultarClick);
    connect(BFechar, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::Quit);
    connect(BConfig, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::BConfigClick);
    connect(BEqualizer, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::BEqualizerClick);
    connect(BInfo, &TSkMMButton::OnClick, this, &TFrm_ZoVeva::BInfoClick);

    LStatus = new QLabel(QStringLiteral("Conectando..."), this);
    LStatus->setObjectName(QStringLiteral("LStatus"));
    LStatus->setGeometry(102, 88, 115, 13);
    LStatus->setAlignment(Qt::AlignCenter);
    LStatus->setFont(zv::MakePixelFont(QStringLiteral("Verdana"), 11, true));
    LStatus->setAutoFillBackground(true);
    SetStatus(LStatus->text(), TRgb { 255, 255, 0 });

    Image5 = new QLabel(this);
    Image5->setObjectName(QStringLiteral("Image5"));
    Image5->setGeometry(90, 203, 138, 39);
    Image5->setPixmap(QPixmap::fromImage(zv::LoadPngFile(QStringLiteral(":/images/logo.png"))));

    PEqualizadores = zv::BlackPanel(this, "PEqualizadores", { 74, 131, 170, 56 });
    // Back to front: the spectrum is in front at every start.
    PVU = zv::BlackPanel(PEqualizadores, "PVU", { 0, 0, 170, 56 });
    PLevel = zv::BlackPanel(PEqualizadores, "PLevel", { 0, 0, 170, 56 });
    POsciloscopio = zv::BlackPanel(PEqualizadores, "POsciloscopio", { 0, 0, 170, 56 });
    PSpectrum = zv::BlackPanel(PEqualizadores, "PSpectrum", { 0, 0, 170, 56 });
    FDisplayStack = { PVU, PLevel, POsciloscopio, PSpectrum };
    ShowDisplayStack();

    CBIdiomas = new QComboBox(this);
    CBIdiomas->setObjectName(QStringLiteral("CBIdiomas"));
    CBIdiomas->hide();
}

void TFrm_ZoVeva::CreateDisplays()
{
    // Needle meters: left channel on the left.
    for (int i = 0; i < 2; ++i) {
        auto* meter = new TMMMeter(PVU);
        meter->setObjectName(i == 0 ? QStringLiteral("MMMeter2") : QStringLiteral("MMMeter1"));
        zv::SetUpMainMeter(*meter, i == 0 ? chLeft : chRight);
        meter->move(i == 0 ? 0 : 84, 0);
        (i == 0 ? MMMeter2 : MMMeter1) = meter;
    }

    // Level bars: left channel above, the decibel scale over them.
    const QString barHint = QStringLiteral("click to change the style,\ndouble click to disable the level");
    for (int i = 0; i < 2; ++i) {
        auto* level = new TMMLevel(PLevel);
        level->setObjectName(i == 0 ? QStringLiteral("MMLevel1") : QStringLiteral("MMLevel2"));
        zv::SetUpMainLevel(*level, i == 0 ? chLeft : chRight);
        level->move(13, i == 0 ? 14 : 37);
        level->setToolTip(barHint);
        (i == 0 ? MMLevel1 : MMLevel2) = level;
    }
    MMLevelScale1 = new TMMLevelScale(PLevel);
    MMLevelScale1->setObjectName(QStringLiteral("MMLevelScale1"));
    zv::SetUpMainLevelScale(*MMLevelScale1);
    MMLevelScale1->move(13, 3);
    PanelText(PLevel, "LDecibeis", QStringLiteral("dB"), { 1, 2, 12, 11 });
    PanelText(PLevel, "LEsquerdo", QStringLiteral("L"), { 3, 17, 9, 11 });
    PanelText(PLevel, "LDireito", QStringLiteral("R"), { 3, 40, 9, 11 });

    MMOscope2 = new TMMOscope(POsciloscopio);
    MMOscope2->setObjectName(QStringLiteral("MMOscope2"));
    zv::SetUpMainOscope(*MMOscope2);
    MMOscope2->move(0, 0);

    MMSpectrum2 = new TMMSpectrum(PSpectrum);
    MMSpectrum2->setObjectName(QStringLiteral("MMSpectrum2"));
    zv::SetUpMainSpectrum(*MMSpectrum2);
    MMSpectrum2->move(0, 0);
}

void TFrm_ZoVeva::CreateHiddenLabels()
{
    for (const char* name : kMessageLabels) {
        auto* label = new QLabel(BuiltInCaption(QString::fromLatin1(name)), this);
        label->setObjectName(QString::fromLatin1(name));
        label->hide();
    }
}

void TFrm_ZoVeva::CreateTrayMenu()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Maximizar1 = PopupMenu1->addAction(IconFrom(QStringLiteral(":/images/menu_restore.png")),
        QStringLiteral("Restaurar"), this, &TFrm_ZoVeva::RestoreWindow);
    Maximizar1->setObjectName(QStringLiteral("Maximizar1"));
    Minimizar1 = PopupMenu1->addAction(IconFrom(QStringLiteral(":/images/menu_hide.png")),
        QStringLiteral("Ocultar"), this, &TFrm_ZoVeva::BOcultarClick);
    Minimizar1->setObjectName(QStringLiteral("Minimizar1"));
    Gravar1 = PopupMenu1->addAction(QStringLiteral("Gravar o que vai ao ar"));
    Gravar1->setObjectName(QStringLiteral("Gravar1"));
    Gravar1->setCheckable(true);
    connect(Gravar1, &QAction::triggered, this,
        [this](bool on) { FController->Guard([this, on] { FController->SetRecording(on); }); });
    // As cfg.ini says, each time the menu opens.
    connect(PopupMenu1, &QMenu::aboutToShow, this,
        [this] { Gravar1->setChecked(FController->Recording().Enabled); });
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    Fechar1 = PopupMenu1->addAction(IconFrom(QStringLiteral(":/images/menu_close.png")),
        QStringLiteral("Fechar"), this, &TFrm_ZoVeva::Quit);
    Fechar1->setObjectName(QStringLiteral("Fechar1"));
}

void TFrm_ZoVeva::ConfigureWaveIn()
{
    FWaveIn->SetBufferSize(4096);
    FWaveIn->SetNumBuffers(20);
    FWaveIn->SetCallBackMode(cmThread);
    FWaveIn->SetMode(mStereo);
    FWaveIn->SetBitLength(b16Bit);
    FWaveIn->SetSampleRate(44100);
    FWaveIn->SetTimeFormat(tfMillisecond);
}

// --- first show

void TFrm_ZoVeva::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FirstShow();
}

void TFrm_ZoVeva::FirstShow()
{
    // Once the capture runs, a show is a return from the tray: nothing to do. So it is while a capture
    // that ran is lost: the retry brings it back, not the first-show steps again.
    if (FWaveIn->Started() || FCaptureLost) {
        return;
    }
    FController->Guard([this] {
        // A failed first show is tried again by the next show; the window and the icon stay single.
        EnsureConfig();
        ListSoundCards();
        MatchSavedSoundCard(*FController, *FCapture);
        SettingsToDialog();
        StartCapture();
        FTimerIcone->SetEnabled(true);
        PostAccount();
        AddTrayIcon();
    });
}

void TFrm_ZoVeva::ListSoundCards()
{
    QComboBox* list = FConfig->CBPlacas;
    list->clear();
    for (int d = 0; d < FWaveIn->DeviceCount(); ++d) {
        FWaveIn->SetDeviceID(d);
        list->addItem(FWaveIn->FullProductName());
    }
    list->setCurrentIndex(-1);
}

void TFrm_ZoVeva::SettingsToDialog()
{
    const TSettings& settings = FController->Settings();
    FConfig->EdUsuario->setText(settings.Usuario);
    FConfig->EdSenha->setText(settings.Senha);
    FConfig->EdRadio->setText(settings.Radio);
    const int placa = StrToInt(settings.Placa);
    // An index beyond the list selects nothing.
    FConfig->CBPlacas->setCurrentIndex(placa);
    FConfig->SoundCardChange();
    if (!FWaveIn->Started()) {
        FWaveIn->SetDeviceID(FCapture->SoundServerOwnsDevices() ? 0 : placa);
    }
    // The saved recording input; a number that names no entry of the card's list changes nothing.
    if (settings.Controle != QLatin1String("-1")) {
        FConfig->SelectControl(StrToInt(settings.Controle));
    }
}

void TFrm_ZoVeva::PostAccount()
{
    const TSettings& settings = FController->Settings();
    FConfig->Browser().Post(MakeAccountRequest(settings.Servidor, settings.Usuario, settings.Senha));
    emit AccountRequested();
}

void TFrm_ZoVeva::SaveSettings()
{
    TFrm_Config& config = *FConfig;
    // 1. What a save cannot do without; a refused save changes nothing and the capture goes on.
    for (const auto& [missing, label] : {
             std::pair { config.CBIdiomas->currentIndex() < 0, "lblNecessarioInformarIdioma" },
             std::pair { config.EdUsuario->text().isEmpty(), "lblNecessarioInformarUsuario" },
             std::pair { config.EdSenha->text().isEmpty(), "lblNecessarioInformarSenha" },
         }) {
        if (missing) {
            ShowMessage(config.Caption(QString::fromLatin1(label)));
            return;
        }
    }
    TStationController& station = *FController;
    // A field the save could not keep is refused, by its name, while nothing has changed yet.
    bool keepable = false;
    station.Guard([&] {
        TDialogSettings fields;
        fields.Radio = config.EdRadio->text();
        fields.Usuario = config.EdUsuario->text();
        fields.Senha = config.EdSenha->text();
        TStationController::CheckDialogSettings(fields);
        keepable = true;
    });
    if (!keepable) {
        return;
    }
    bool saved = false;
    station.Guard([&] {
        // 2.
        FWaveIn->Close();
        const QString previousUsuario = station.Settings().Usuario;
        try {
            // 3.
            station.SetLanguage(config.CBIdiomas->currentIndex());
            SelectLanguage(station.Settings().iIdioma);
            // 4., then LoadSettings (5.)
            TDialogSettings values;
            values.Placa = config.CBPlacas->currentIndex();
            values.Controle = config.SelectedControl();
            values.Usuario = config.EdUsuario->text();
            values.Senha = config.EdSenha->text();
            values.Radio = config.EdRadio->text();
            values.Kbps = station.Settings().Kbps;
            values.iIdioma = station.Settings().iIdioma;
            station.SaveSettings(values);
            // 5.
            SettingsToDialog();
            PostAccount();
            // 6. to 8.
            station.RestartEncoderAfterSave(previousUsuario);
        } catch (...) {
            // The displays are not the failed step's to stop: the capture comes back, and the error
            // it stopped for is the one reported.
            try {
                StartCapture();
            } catch (...) {
            }
            throw;
        }
        // 9.
        StartCapture();
        config.hide();
        saved = true;
    });
    if (saved) {
        emit SettingsSaved();
    }
}

// --- the displays' capture

void TFrm_ZoVeva::StartCapture()
{
    ++FCaptureStarting;
    const auto started = qScopeGuard([this] { --FCaptureStarting; });
    FWaveIn->Start();
    if (FCaptureLost) {
        CaptureReturned();
    }
}

void TFrm_ZoVeva::CaptureFailed()
{
    // A start that fails raises to its caller; a retry that fails is the outage going on.
    if (FCaptureStarting > 0 || FCaptureLost) {
        return;
    }
    FCaptureLost = true;
    FLostDevice = FWaveIn->FullProductName();
    FLostSince.start();
    FController->WriteLog(
        zv::LoadResString(zv::SInputDeviceFailed)
            .arg(FLostDevice, FWaveIn->ErrorMessage().simplified(), QString::number(CaptureRetryMs / 1000)),
        QStringLiteral("Erro"), QStringLiteral("WaveIn"));
    FController->SetInputLost(true);
    FCaptureRetry->SetEnabled(true);
}

void TFrm_ZoVeva::RetryCapture()
{
    if (!FCaptureLost || FWaveIn->Started()) {
        FCaptureRetry->SetEnabled(false);
        if (FCaptureLost) {
            CaptureReturned(); // a save started it meanwhile
        }
        return;
    }
    try {
        // By name: device ids are places in a list that changes while a server or a card is away.
        FWaveIn->Close();
        if (FWaveIn->SelectDevice(FLostDevice)) {
            StartCapture();
        }
    } catch (...) {
        // Still away; the failure was logged once, and the next try comes.
    }
}

void TFrm_ZoVeva::CaptureReturned()
{
    FCaptureLost = false;
    FCaptureRetry->SetEnabled(false);
    FController->SetInputLost(false);
    FController->WriteLog(
        zv::LoadResString(zv::SInputDeviceBack).arg(FLostDevice, OnAirTimeText(FLostSince.elapsed())),
        QStringLiteral("Processo normal"), QStringLiteral("WaveIn"));
}

void TFrm_ZoVeva::AddTrayIcon()
{
    QApplication::setWindowIcon(FMainIcon);
    if (!FTrayIcon) {
        FTrayIcon = std::make_unique<QSystemTrayIcon>(FMainIcon);
        FTrayIcon->setObjectName(QStringLiteral("TrayIcon"));
        UpdateTrayToolTip();
        connect(FTrayIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    TrayNotification(TrayLeftButtonDown);
                } else if (reason == QSystemTrayIcon::Context) {
                    TrayNotification(TrayRightButtonDown);
                }
            });
    }
    CheckTray();
}

void TFrm_ZoVeva::CheckTray()
{
    FHasTray = FOptions.TrayAvailable ? FOptions.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (FTrayIcon) {
        // An icon shown with no tray host waits for one in ways that only the X11 plug-in of Qt
        // supports (elsewhere it warns on the terminal): it is shown once a host is there.
        FTrayIcon->setVisible(FHasTray);
    }
    // Hidden to a tray that went away: the taskbar is the way back now.
    if (!FHasTray && isHidden() && FWaveIn->Started()) {
        showMinimized();
    }
    ShowStatus();
}

void TFrm_ZoVeva::Notify(const QString& summary, const QString& body)
{
    if (FOptions.Notify) {
        FOptions.Notify(summary, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    const QVariantMap hints { { QStringLiteral("urgency"), QVariant::fromValue(uchar(2)) } }; // critical
    call << ApplicationTitle() << uint(0) << QString() << summary << body << QStringList() << hints << -1;
    // Not waited for: with no notification service the status line still shows the alarm.
    QDBusConnection::sessionBus().send(call);
}

void TFrm_ZoVeva::PaintStatus(const QString& text, TRgb colour)
{
    LStatus->setText(text);
    QPalette palette = LStatus->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, QColor(colour.red, colour.green, colour.blue));
    LStatus->setPalette(palette);
}

void TFrm_ZoVeva::ShowStatus()
{
    // Without a tray the status line is the one place the alarm stays in sight, so it holds it; with one
    // the alarm takes turns with the encoder's state, which the operator needs as much. Otherwise the
    // status line is left as SetStatus (or a translation) put it.
    const bool raised = !FDeadAirWarning.isEmpty();
    const bool alarm = raised && (!FHasTray || FDeadAirTicks / 2 % 2 == 0);
    if (alarm) {
        PaintStatus(zv::LoadResString(zv::SDeadAirTitle), kDeadAirColour);
    } else if (FStatusAlarm) {
        PaintStatus(FStatusText, FStatusColour);
    }
    FStatusAlarm = alarm;
    QStringList hint;
    if (raised) {
        hint << FDeadAirWarning;
    }
    if (!FStatusDetails.isEmpty()) {
        hint << FStatusDetails;
    }
    if (!FStopReason.isEmpty()) {
        hint << FStopReason;
    }
    LStatus->setToolTip(hint.join(QLatin1Char('\n')));
}

// --- tray

void TFrm_ZoVeva::OnTimerIcone()
{
    std::uint8_t& frame = FIconFrame;
    frame = static_cast<std::uint8_t>(frame >= 4 ? 1 : frame + 1);
    // This timer runs on and off the air: the dead-air alarm's turns on the status line follow it.
    if (!FDeadAirWarning.isEmpty()) {
        ++FDeadAirTicks;
        ShowStatus();
    }
    // A tray host may come or go at any time; nothing tells, so look every 2 s.
    if (frame == 1 && FTrayIcon) {
        CheckTray();
    }
    const int shown = FController->Connected() ? frame : 1;
    if (shown == FShownFrame) {
        return;
    }
    FShownFrame = shown;
    // The application's icon is the taskbar's; the tray shows the same.
    const QIcon& icon = FImages[static_cast<std::size_t>(shown - 1)];
    QApplication::setWindowIcon(icon);
    if (FTrayIcon) {
        FTrayIcon->setIcon(icon);
    }
}

void TFrm_ZoVeva::OnTimerPopup()
{
    FTimerPopup->SetEnabled(false);
    const QPoint at = FOptions.CursorPos ? FOptions.CursorPos() : QCursor::pos();
    PopupMenu1->popup(at);
}

void TFrm_ZoVeva::TrayNotification(int mouseMessage)
{
    switch (mouseMessage) {
    case TrayLeftButtonDown:
        if (isVisible()) {
            hide();
        } else {
            RestoreWindow();
        }
        break;
    case TrayRightButtonDown:
        FTimerPopup->SetEnabled(true);
        break;
    default:
        break;
    }
}

// --- buttons and menu

void TFrm_ZoVeva::ShowDisplayStack()
{
    // Only the front panel can be seen; the others are hidden so that they do not draw either.
    for (QWidget* panel : FDisplayStack) {
        panel->raise();
        panel->setVisible(panel == FDisplayStack.back());
    }
}

void TFrm_ZoVeva::BEqualizerClick()
{
    std::int32_t& index = FDisplayIndex;
    index = index >= 4 ? 1 : index + 1;
    QWidget* const toBack[] = { PSpectrum, POsciloscopio, PLevel, PVU };
    QWidget* panel = toBack[index - 1];
    const auto at = std::find(FDisplayStack.begin(), FDisplayStack.end(), panel);
    std::rotate(FDisplayStack.begin(), at, at + 1);
    ShowDisplayStack();
}

void TFrm_ZoVeva::BMinimizarClick()
{
    showMinimized();
}

void TFrm_ZoVeva::BOcultarClick()
{
    CheckTray();
    if (FHasTray) {
        hide();
    } else {
        showMinimized();
    }
}

void TFrm_ZoVeva::BConfigClick()
{
    if (FConfig) {
        FConfig->OpenSettings();
    }
}

void TFrm_ZoVeva::BInfoClick()
{
    if (FConfig) {
        FConfig->OpenInformation();
    }
}

void TFrm_ZoVeva::RestoreWindow()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TFrm_ZoVeva::Quit()
{
    // One click under minimise and hide must not take the station off the air by mistake.
    if (FController->Connected() && !AskYesNo(zv::LoadResString(zv::SAskOffAir))) {
        return;
    }
    FTimerIcone->SetEnabled(false);
    close();
}

void TFrm_ZoVeva::closeEvent(QCloseEvent* event)
{
    if (!FController->CloseStep()) {
        event->ignore();
        return;
    }
    event->accept();
    if (FConfig) {
        FConfig->hide();
    }
    Terminate();
}

void TFrm_ZoVeva::Terminate()
{
    if (FOptions.Terminate) {
        FOptions.Terminate();
    } else {
        QCoreApplication::quit();
    }
}

// --- IStationWindow

QString TFrm_ZoVeva::Caption(const QString& labelName) const
{
    if (const auto* label = findChild<QLabel*>(labelName, Qt::FindDirectChildrenOnly)) {
        return label->text();
    }
    return BuiltInCaption(labelName);
}

void TFrm_ZoVeva::SetStatus(const QString& text, TRgb colour)
{
    FStatusText = text;
    FStatusColour = colour;
    if (!FStatusAlarm) {
        PaintStatus(text, colour);
    }
}

void TFrm_ZoVeva::SetStatusDetails(const QString& details)
{
    FStatusDetails = details;
    ShowStatus();
    UpdateTrayToolTip();
}

void TFrm_ZoVeva::SetStopReason(const QString& reason)
{
    // Every poll on the air hands an empty one.
    if (reason == FStopReason) {
        return;
    }
    FStopReason = reason;
    ShowStatus();
    UpdateTrayToolTip();
}

void TFrm_ZoVeva::DeadAirChanged(bool silent, const QString& message, double silentSeconds)
{
    // A raised alarm shows at once, then takes its turns (see ShowStatus).
    FDeadAirTicks = 0;
    if (!silent) {
        FDeadAirWarning.clear();
    } else if (FController->DeadAir().RaisedWithoutInput()) {
        FDeadAirWarning = DeadAirNoInputWarningText(QTime::currentTime(), silentSeconds);
    } else {
        FDeadAirWarning = DeadAirWarningText(QTime::currentTime(), silentSeconds);
    }
    UpdateTrayToolTip();
    ShowStatus();
    if (!silent) {
        return;
    }
    if (FHasTray && FTrayIcon && FTrayIcon->isVisible()) {
        FTrayIcon->showMessage(zv::LoadResString(zv::SDeadAirTitle), message, QSystemTrayIcon::Warning);
    } else {
        Notify(zv::LoadResString(zv::SDeadAirTitle), message);
    }
}

void TFrm_ZoVeva::RecordingWarning(const QString& message)
{
    if (FHasTray && FTrayIcon && FTrayIcon->isVisible()) {
        FTrayIcon->showMessage(zv::LoadResString(zv::SRecordingTitle), message, QSystemTrayIcon::Warning);
    } else {
        Notify(zv::LoadResString(zv::SRecordingTitle), message);
    }
}

QString TFrm_ZoVeva::TrayToolTip() const
{
    QStringList lines;
    if (!FDeadAirWarning.isEmpty()) {
        lines << FDeadAirWarning;
    }
    lines << ApplicationTitle();
    if (!FStatusDetails.isEmpty()) {
        lines << FStatusDetails;
    }
    if (!FStopReason.isEmpty()) {
        lines << FStopReason;
    }
    return lines.join(QLatin1Char('\n'));
}

void TFrm_ZoVeva::UpdateTrayToolTip()
{
    if (FTrayIcon) {
        FTrayIcon->setToolTip(TrayToolTip());
    }
}

void TFrm_ZoVeva::EnsureConfig()
{
    if (!FConfig) {
        FConfig = std::make_unique<TFrm_Config>(
            *SkBitmapList2, *CBIdiomas, nullptr, FOptions.AccountBrowser, FOptions.MixerBinding);
        FConfig->SetLanguageContext({ FLanguageFile, [this] { return FController->Settings().iIdioma; },
            [this] { return StrToInt(FController->Settings().Controle); },
            [this](const std::function<void()>& step) { FController->Guard(step); } });
        FConfig->SetNewerWindowsCheck([this] { return FCapture->SoundServerOwnsDevices(); });
        FConfig->SetMessageBoxes(this);
        FController->SetSettingsFields(FConfig.get());
        connect(FConfig.get(), &TFrm_Config::SaveRequested, this, &TFrm_ZoVeva::SaveSettings);
        connect(&FConfig->Browser(), &TAccountBrowser::PageLoaded, this,
            [this](const std::optional<QString>& limit) { FController->AccountPageLoaded(limit); });
    }
}

void TFrm_ZoVeva::ShowSettingsModal()
{
    // From the event loop, not from inside the caller: the first start comes while an error of the
    // creation or of the first show may still be on the screen, and a window made modal inside that
    // box's loop took no input, nor did the box under it (nor was the error logged, which waits for
    // the box).
    QTimer::singleShot(0, this, &TFrm_ZoVeva::OpenSettingsModal);
}

void TFrm_ZoVeva::OpenSettingsModal()
{
    // Every box the operator still has to answer comes first.
    const auto boxOpen = [] {
        if (QApplication::activeModalWidget()) {
            return true;
        }
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(),
            [](const QWidget* w) { return w->isVisible() && qobject_cast<const QMessageBox*>(w); });
    };
    if (boxOpen()) {
        QTimer::singleShot(50, this, &TFrm_ZoVeva::OpenSettingsModal);
        return;
    }
    FController->Guard([this] {
        EnsureConfig();
        FConfig->ShowModal();
    });
}

void TFrm_ZoVeva::RequestTermination()
{
    // The controller stopped its own timers; the run is over for the tray's too.
    FTimerIcone->SetEnabled(false);
    FTimerPopup->SetEnabled(false);
    QTimer::singleShot(0, this, [this] { Terminate(); });
}

void TFrm_ZoVeva::ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

// --- IMessageBoxes

// Timers go on while a box is open: the same text coming again meanwhile (an error of every restart
// while the sound server is away) is logged each time by the caller, but the operator finds one box to
// close, not a stack of copies.
TFrm_ZoVeva::TOpenBox::TOpenBox(QSet<QString>& open, const QString& text)
    : FOpen(open)
    , FText(text)
{
    FOpen.insert(FText);
}

TFrm_ZoVeva::TOpenBox::~TOpenBox()
{
    FOpen.remove(FText);
}

void TFrm_ZoVeva::ShowMessage(const QString& text)
{
    if (FOpenBoxes.contains(text)) {
        return;
    }
    const TOpenBox open(FOpenBoxes, text);
    if (FOptions.Boxes) {
        FOptions.Boxes->ShowMessage(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, BoxParent());
    box.exec();
}

void TFrm_ZoVeva::ShowError(const QString& text)
{
    if (FOpenBoxes.contains(text)) {
        return;
    }
    if (FOptions.Boxes) {
        const TOpenBox open(FOpenBoxes, text);
        FOptions.Boxes->ShowError(text);
        return;
    }
    // Not waited for: the step that failed ends now, and its timer goes on while the operator is away
    // (a box waited for inside a restart timer held every later restart until it was closed, so the
    // station stayed off the air after the sound server came back). Modal all the same.
    auto* box
        = new QMessageBox(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, BoxParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(true);
    FOpenBoxes.insert(text);
    connect(box, &QObject::destroyed, this, [this, text] { FOpenBoxes.remove(text); });
    box->show();
}

bool TFrm_ZoVeva::AskYesNo(const QString& text)
{
    if (FOptions.Boxes) {
        return FOptions.Boxes->AskYesNo(text);
    }
    QMessageBox box(
        QMessageBox::Question, ApplicationTitle(), text, QMessageBox::Yes | QMessageBox::No, BoxParent());
    box.button(QMessageBox::Yes)->setText(zv::LoadResString(zv::SAnswerYes));
    box.button(QMessageBox::No)->setText(zv::LoadResString(zv::SAnswerNo));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QWidget* TFrm_ZoVeva::BoxParent() const
{
    // Over the settings window when it is shown: it stays on top of every window without a parent.
    if (FConfig && FConfig->isVisible()) {
        return FConfig.get();
    }
    return nullptr;
}
