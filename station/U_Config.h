#pragma once

// The settings window: account, radio name, sound card and language on one panel, the account page on
// the panel behind it, the sound card's recording input and its two volumes on the mixer panel, on a
// skinned window. Created once at the main window's first show and only
// hidden, never destroyed, until the program ends. The save itself is the main window's, which owns
// what it touches (capture, language, encoder).
//
// Threads: user-interface thread only.

#include "audio/MMWheel.h"
#include "station/AccountBrowser.h"
#include "station/StationInterfaces.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class TMMAudioLine;
class TMMDeviceComboBox;
class TMMMixerCheckBox;
class TMMMixerControl;
class TMMMixerDevice;
class TMMVolumeControl;
class TSkBitmapList;
class TSkMMButton;
class TSkShapedForm;

namespace zv {
// The fonts the windows name, mapped once onto fonts a Debian desktop has.
void InstallStationFonts();
// A plain black panel, named and placed: the ground of the displays and of the settings pages.
QWidget* BlackPanel(QWidget* parent, const char* name, const QRect& place);
} // namespace zv

namespace zv {
class MixerOps;
}

// A knob of the mixer panel with its caption under it; the caption is translated by the knob's name.
class TConfigWheel : public TMMMixerWheel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    explicit TConfigWheel(QWidget* parent);
    QString Caption() const;
    void SetCaption(const QString& text);
    // Places the knob with its caption below it.
    void Place(int left, int top);

private:
    QLabel* FLabel;
};

// What the settings window's language and close steps need of the main window.
struct TLanguageContext {
    std::filesystem::path File; // the language file
    std::function<int()> SavedIndex; // iIdioma, the saved choice
    std::function<int()> SavedControl; // the number in Controle, the saved recording input
    // Runs a step; an error ends it and goes to the application's error handler.
    std::function<void(const std::function<void()>&)> Guard;
};

class TFrm_Config : public QDialog, public ISettingsFields {
    Q_OBJECT
public:
    // `faces` is the main window's bitmap list; `languages` its (hidden) language list, copied into
    // this window's own list at every show. Both must outlive the window. Without `browser` the account
    // page is shown in the real browser; without `mixer`, the mixer panel works on the program's
    // mixer service (zv::DefaultMixer).
    TFrm_Config(TSkBitmapList& faces, const QComboBox& languages, QWidget* parent = nullptr,
        const TAccountBrowserFactory& browser = {}, zv::MixerOps* mixer = nullptr);
    ~TFrm_Config() override;

    // Settings mode (BConfig): the settings panel in front. Not modal.
    void OpenSettings();
    // Information mode (BInfo): the settings panel hidden, so the account page's panel shows.
    void OpenInformation();
    // The first start without an encoding file: settings mode, modal; returns once hidden again.
    void ShowModal();

    // Without it the window has no language steps.
    void SetLanguageContext(TLanguageContext context) { FLanguage = std::move(context); }
    // Where the window's messages go; without them, nowhere.
    void SetMessageBoxes(IMessageBoxes* boxes) { FBoxes = boxes; }
    // Caption of this window's hidden message label of that name; follows the chosen language.
    QString Caption(const QString& labelName) const;
    // The account page's browser.
    TAccountBrowser& Browser() const { return *FBrowser; }

    // Whether a sound server owns the sound devices; without it, the program's capture binding says.
    void SetNewerWindowsCheck(std::function<bool()> check) { FNewerWindows = std::move(check); }
    // The mixer component types behind the control list's entries, as its last build found them.
    const std::array<std::int32_t, 20>& ControlTypes() const { return FControlTypes; }

    // --- the mixer panel
    // CBPlacas' entry chosen (by the operator, or by SettingsToDialog): the mixer of the card's name
    // follows, unless the card is "OmniaAX"; no mixer of that name gives device id -1.
    void SoundCardChange();
    // The mixer device changed (by the sound-card change, or reported by the device itself): the
    // lines attached to it again, the device active when it can be, and the control list rebuilt.
    void PlacaDeviceChange();
    // The control list: one entry per source type that the recording destination has, in type order,
    // named after the line; no entry selected. A recording destination without source lines puts the
    // recording knob and CBGravacao on its own volume and switch instead, and LSemEntradas says so.
    void BuildControlList();
    // Whether the knob and the box act on the recording destination itself (it has no source line).
    bool RecordsDestination() const { return FOwnRecording; }
    // The control list selects entry `index` (none when there is no such entry); a selected entry
    // becomes the recording input, as when the operator chooses it.
    void SelectControl(int index);
    // The control list's entry, -1 for none: what a save writes as Controle.
    int SelectedControl() const;
    // The operator chose entry `index`: both lines take its type and it becomes the recording source.
    void ChooseControl(int index);
    // The operator chose entry `index` of the language list: that language is opened and this window
    // alone translated (a preview until the settings are saved).
    void PreviewLanguage(int index);
    // Leaving without saving: the saved language is selected, opened and applied to this window again.
    void CloseWithoutSaving();

    // The window's close request and the Escape key: as a close button, but the window always hides.
    void reject() override;

    // ISettingsFields
    QString RadioName() const override;
    std::optional<QString> SelectedSoundCard() const override;
    QString UserName() const override;

    // The panels and fields, by their names.
    TSkShapedForm* Skin = nullptr;
    QWidget* PBrowser = nullptr;
    QWidget* PConfig = nullptr;
    QComboBox* CBIdiomas = nullptr;
    QLineEdit* EdRadio = nullptr;
    QLineEdit* EdUsuario = nullptr;
    QLineEdit* EdSenha = nullptr;
    QComboBox* CBPlacas = nullptr;
    TSkMMButton* SkMMButton1 = nullptr; // save
    TSkMMButton* SkMMButton2 = nullptr; // close, on the account page's panel
    TSkMMButton* SkMMButton3 = nullptr; // the desktop's recording settings
    TSkMMButton* BFechar = nullptr; // close
    QWidget* WebBrowser1 = nullptr; // the account page, filling PBrowser above its close button
    // The mixer panel, over SkMMButton3 when shown.
    QWidget* PControles = nullptr;
    QComboBox* CBControle = nullptr; // the recording input
    QGroupBox* GBVolume = nullptr;
    TConfigWheel* Volume = nullptr; // recording volume of the input ("Gravação")
    TConfigWheel* MMMixerWheel1 = nullptr; // its volume as heard ("Retorno")
    TMMMixerCheckBox* CBLineIn = nullptr; // mutes the input as heard
    // The mixer model behind the panel.
    TMMMixerDevice* PlacaDevice = nullptr;
    TMMDeviceComboBox* ComboPlaca = nullptr; // never visible
    TMMAudioLine* AudioGravacao = nullptr; // the recording destination
    TMMAudioLine* AudioLineInRec = nullptr; // the input as a source of the recording
    TMMAudioLine* AudioLineIn = nullptr; // the input as heard
    TMMMixerControl* MixerLineInRec = nullptr; // the recording source selector
    TMMMixerControl* MixerLineIn = nullptr; // the mute of the input as heard
    TMMVolumeControl* ControleVolumeRec = nullptr;
    TMMVolumeControl* ControlVolume = nullptr;
    TMMMixerCheckBox* CBLineInRec = nullptr; // outside the visible area: ticked, its line is recorded
    // Where the recording has no source lines: its own volume and switch, the box in CBLineIn's
    // place, and the line that says why in the control list's.
    QLabel* LControle = nullptr;
    QLabel* LSemEntradas = nullptr;
    TMMVolumeControl* ControleGravacao = nullptr;
    TMMMixerControl* MixerGravacao = nullptr;
    TMMMixerCheckBox* CBGravacao = nullptr;

signals:
    // SkMMButton1: the operator asks to save.
    void SaveRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Open(bool settingsMode);
    // The mixer panel shows exactly with the settings panel, unless a sound server owns the devices.
    void ShowMixerPanel();
    // Runs a step through the main window's guard: an error ends it and goes to the error handler.
    void RunStep(const std::function<void()>& step);
    bool NewerWindows() const;
    void OpenRecordingSettings();
    void CreateMixerPanel(zv::MixerOps* mixer);
    // Translating the window puts the built-in entries back into the control list; the card's own
    // names win.
    void TranslateWindow();
    void AttachLines(TMMMixerDevice* mixer);
    // The knob and the box on the recording destination's own controls, or on the chosen input's.
    void RecordDestination(bool own);
    void ShowRecordingTexts();

    const QComboBox& FLanguages;
    TLanguageContext FLanguage;
    IMessageBoxes* FBoxes = nullptr;
    std::unique_ptr<TAccountBrowser> FBrowser;
    std::function<bool()> FNewerWindows;
    std::array<std::int32_t, 20> FControlTypes {};
    QStringList FControlNames; // the control list as last built
    bool FControlListBuilt = false;
    bool FChangingCard = false; // the sound-card change sets the device: it rebuilds once, at its end
    bool FOwnRecording = false;
};
