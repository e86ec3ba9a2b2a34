#pragma once

// The main window: a skinned panel with the encoder status, the four live displays of the captured
// sound behind one switcher button, and the buttons for settings, information, minimise, hide and
// quit; in the notification area an icon that animates while the stream is on the air. It owns the
// station controller, the capture component and the displays, and implements the controller's
// window interfaces.
//
// Threads: everything here runs on the user-interface thread. The capture component hands its
// buffers to the displays' feed on a thread of its own; nothing of this class is touched there.

#include "platform/Clock.h"
#include "station/AccountBrowser.h"
#include "station/AccountPage.h"
#include "station/StationController.h"
#include "station/StationInterfaces.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QSet>
#include <QSystemTrayIcon>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class TFrm_Config;
class TMMConnector;
class TMMLevel;
class TMMLevelScale;
class TMMMeter;
class TMMOscope;
class TMMSpectrum;
class TMMWaveIn;
class TSkBitmapList;
class TSkMMButton;
class TSkShapedForm;

namespace zv {
class MixerOps;
class WaveInOps;
} // namespace zv

class TFrm_ZoVeva : public QWidget, public IStationWindow, public IMessageBoxes {
    Q_OBJECT
public:
    // Mouse messages of the notification-area icon that the window acts on.
    static constexpr int TrayLeftButtonDown = 513;
    static constexpr int TrayRightButtonDown = 516;

    // What the program or a test may put in instead of the real thing.
    struct Options {
        IMessageBoxes* Boxes = nullptr; // null: this window's message boxes
        zv::WaveInOps* WaveInBinding = nullptr; // null: the binding ZOVEVA_WAVEIN names
        zv::MixerOps* MixerBinding = nullptr; // null: the mixer service ZOVEVA_WAVEIN names
        std::function<QPoint()> CursorPos; // null: the mouse cursor's screen position
        std::function<void()> Terminate; // null: quits the application's event loop
        TAccountBrowserFactory AccountBrowser; // null: the real browser
        std::function<bool()> TrayAvailable; // null: whether the desktop has a tray host now
        // null: the desktop's notification service on the session bus
        std::function<void(const QString& summary, const QString& body)> Notify;
    };

    // Runs the creation steps: installs the controller's error handler on the application object
    // (when it is a TZoVevaApplication) and loads or creates cfg.ini. The clock and the encoder
    // factory must outlive the window.
    TFrm_ZoVeva(std::filesystem::path programFolder, zv::IClock& clock, CoEncoderApp& encoders);
    TFrm_ZoVeva(
        std::filesystem::path programFolder, zv::IClock& clock, CoEncoderApp& encoders, Options options);
    ~TFrm_ZoVeva() override;

    TStationController& Controller() { return *FController; }
    // The settings window; null until the first show created it.
    TFrm_Config* Frm_Config() const { return FConfig.get(); }
    TMMWaveIn& WaveIn() { return *FWaveIn; }

    // --- first-show steps (public for tests)
    void ListSoundCards();
    // The saved settings into the settings window, the mixer of the chosen card with its recording
    // input, and the capture device chosen from them (device 0 while a sound server owns the
    // devices). Raises EConvertError when Placa, or Controle other than "-1", is not a number.
    void SettingsToDialog();
    // Posts the account to the account page in the settings window's browser.
    void PostAccount();

    // --- the settings window's save (SkMMButton1)
    // Refused, with its message and nothing changed, without a language, a user name or a password.
    // Otherwise: capture closed, language applied, cfg.ini written and read again, the dialog filled
    // from it, the account posted, the encoder restarted (twice for a new user name), capture started
    // and the window hidden. An error ends the save there (the window stays open) and goes to the
    // application's error handler.
    void SaveSettings();

    // --- language
    // The language file beside the program.
    const std::filesystem::path& LanguageFile() const { return FLanguageFile; }
    // Selects entry `index` of the language list (none when it is beyond the list), opens that
    // language and translates this window; with no entry selected nothing is opened. The save of the
    // settings ends with this.
    void SelectLanguage(int index);

    // --- shell actions
    void BEqualizerClick(); // display switcher
    void BMinimizarClick();
    // Hides the window to the tray; with no tray host it minimises it instead, so that the taskbar
    // still brings it back.
    void BOcultarClick();
    void BConfigClick();
    void BInfoClick();
    // BFechar and the menu's "Fechar": stops the animation, then closes the window (ends the run).
    void Quit();
    void RestoreWindow(); // the menu's "Restaurar"
    // A mouse message of the notification-area icon (its callback).
    void TrayNotification(int mouseMessage);
    // The display in front, the one that can be seen.
    QWidget* FrontDisplay() const { return FDisplayStack.back(); }
    QSystemTrayIcon* TrayIcon() const { return FTrayIcon.get(); }
    // Whether a tray host was there at the last look (the first show, then every 2 s of the animation).
    // Without one the tray icon is not shown, a hidden window comes back minimised, and the dead-air
    // alarm goes to the desktop's notifications and holds the status line; with one, the alarm takes
    // turns with the encoder's state there each second.
    bool HasTray() const { return FHasTray; }
    // The tray icon's tooltip: the dead-air warning when raised, the title, the stream's details, and
    // why the encoder last stopped while it is off the air.
    QString TrayToolTip() const;
    // The tray animation's frames Image1 ... Image4 (index 0 ... 3).
    const QIcon& TrayFrame(int index) const { return FImages.at(static_cast<std::size_t>(index)); }
    // The frame the last animation tick showed: 1 ... 4, 0 before the first tick.
    int ShownFrame() const { return FShownFrame; }
    // TimerIcone: the tray animation, every 500 ms from the first show. TimerPopup: the tray menu, once,
    // 200 ms after a right click on the icon. Both on the window's clock.
    zv::ITimer& TimerIcone() const { return *FTimerIcone; }
    zv::ITimer& TimerPopup() const { return *FTimerPopup; }
    // The display switcher's place: 0 at start, 1 ... 4 once used; not saved.
    int DisplayIndex() const { return FDisplayIndex; }

    // --- the displays' capture when its device fails (a sound server stopped, a card pulled out)
    // The failure is logged once; the device chosen then is tried again every CaptureRetryMs until it
    // captures again, which is logged too. Meanwhile the dead-air alarm knows there is no input.
    static constexpr int CaptureRetryMs = 2000;
    bool CaptureLost() const { return FCaptureLost; }

    // --- IStationWindow
    QString Caption(const QString& labelName) const override;
    void SetStatus(const QString& text, TRgb colour) override;
    void SetStatusDetails(const QString& details) override;
    void SetStopReason(const QString& reason) override;
    void DeadAirChanged(bool silent, const QString& message, double silentSeconds) override;
    void RecordingWarning(const QString& message) override;
    void ShowSettingsModal() override;
    void RequestTermination() override;
    void ProcessPendingEvents() override;

    // --- IMessageBoxes
    void ShowMessage(const QString& text) override;
    void ShowError(const QString& text) override;
    bool AskYesNo(const QString& text) override;

    // --- components, by their names
    TSkShapedForm* Skin = nullptr;
    TSkMMButton* BMinimizar = nullptr;
    TSkMMButton* BOcultar = nullptr;
    TSkMMButton* BFechar = nullptr;
    TSkMMButton* BConfig = nullptr;
    TSkMMButton* BEqualizer = nullptr;
    TSkMMButton* BInfo = nullptr;
    QLabel* LStatus = nullptr;
    QLabel* Image5 = nullptr;
    QWidget* PEqualizadores = nullptr;
    QWidget* PVU = nullptr;
    QWidget* PLevel = nullptr;
    QWidget* POsciloscopio = nullptr;
    QWidget* PSpectrum = nullptr;
    TMMMeter* MMMeter1 = nullptr;
    TMMMeter* MMMeter2 = nullptr;
    TMMLevel* MMLevel1 = nullptr;
    TMMLevel* MMLevel2 = nullptr;
    TMMLevelScale* MMLevelScale1 = nullptr;
    TMMOscope* MMOscope2 = nullptr;
    TMMSpectrum* MMSpectrum2 = nullptr;
    TMMConnector* MMConnector1 = nullptr; // feeds the six displays from WaveIn
    QComboBox* CBIdiomas = nullptr; // never visible
    QMenu* PopupMenu1 = nullptr;
    QAction* Maximizar1 = nullptr;
    QAction* Minimizar1 = nullptr;
    QAction* Gravar1 = nullptr; // check item: the recording of what goes on the air
    QAction* Fechar1 = nullptr;

signals:
    // PostAccount ran (the account page will answer it).
    void AccountRequested();
    // A save went through all its steps.
    void SettingsSaved();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateDisplays();
    void CreateHiddenLabels();
    void CreateTrayMenu();
    void ConfigureWaveIn();
    void FirstShow();
    void AddTrayIcon();
    void UpdateTrayToolTip();
    // Looks for a tray host and follows what it finds (see HasTray).
    void CheckTray();
    void Notify(const QString& summary, const QString& body);
    // LStatus: the encoder's state, or the dead-air alarm while it is raised (in turns with the state
    // when there is a tray); its hint: the warning, the stream's details and the stop reason.
    void ShowStatus();
    void PaintStatus(const QString& text, TRgb colour);
    void OnTimerIcone();
    void OnTimerPopup();
    void ShowDisplayStack();
    void EnsureConfig();
    // The settings window, modally, once no box is open (ShowSettingsModal queues it).
    void OpenSettingsModal();
    void CreateLanguageList();
    void Terminate();
    QWidget* BoxParent() const;
    // WaveIn's Start: a failure raises to the caller, which reports it; a success ends an outage.
    void StartCapture();
    void CaptureFailed(); // WaveIn's OnError
    void RetryCapture();
    void CaptureReturned();

    // A box waited for: its text is among the open ones while it lasts.
    class TOpenBox {
    public:
        TOpenBox(QSet<QString>& open, const QString& text);
        ~TOpenBox();
        TOpenBox(const TOpenBox&) = delete;
        TOpenBox& operator=(const TOpenBox&) = delete;

    private:
        QSet<QString>& FOpen;
        QString FText;
    };

    Options FOptions;
    std::filesystem::path FLanguageFile;
    std::unique_ptr<TSkBitmapList> SkBitmapList2;
    std::array<QIcon, 4> FImages; // Image1 ... Image4
    QIcon FMainIcon;
    // Back to front; the last one is the one shown.
    std::array<QWidget*, 4> FDisplayStack {};
    std::unique_ptr<TMMConnector> FConnector;
    // Declared after the connector, so that the capture ends before the connector goes.
    std::unique_ptr<TMMWaveIn> FWaveIn;
    zv::WaveInOps* FCapture = nullptr; // WaveIn's binding
    std::unique_ptr<TStationController> FController;
    // After FController, whose Guard they run through.
    std::unique_ptr<zv::ITimer> FTimerIcone;
    std::unique_ptr<zv::ITimer> FTimerPopup;
    std::int32_t FDisplayIndex = 0;
    std::uint8_t FIconFrame = 0; // the animation's frame: 1 ... 4 once it ran, 0 before
    std::unique_ptr<TFrm_Config> FConfig;
    std::unique_ptr<QSystemTrayIcon> FTrayIcon;
    int FShownFrame = 0;
    QString FStatusDetails;
    QString FDeadAirWarning;
    int FDeadAirTicks = 0; // animation ticks since the alarm rose: it takes turns every two
    QString FStopReason;
    bool FHasTray = true;
    QString FStatusText; // the encoder's state as SetStatus gave it
    TRgb FStatusColour {};
    bool FStatusAlarm = false; // LStatus shows the dead-air alarm
    QSet<QString> FOpenBoxes; // texts of the boxes open now
    std::unique_ptr<zv::ITimer> FCaptureRetry; // after FController, whose Guard it runs through
    int FCaptureStarting = 0; // inside StartCapture: failures are the caller's to report
    bool FCaptureLost = false;
    QString FLostDevice; // the product name the capture had when it failed
    QElapsedTimer FLostSince;
};
