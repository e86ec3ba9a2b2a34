#pragma once

// The settings window: account, radio name, sound card and language on one panel, the account page on
// the panel behind it, on a skinned window. Created once at the main window's first show and only
// hidden, never destroyed, until the program ends. The save itself is the main window's, which owns
// what it touches (capture, language, encoder).
//
// Threads: user-interface thread only.

#include "station/AccountBrowser.h"
#include "station/StationInterfaces.h"

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class TSkBitmapList;
class TSkMMButton;
class TSkShapedForm;

namespace zv {
// The fonts the windows name, mapped once onto fonts a Debian desktop has.
void InstallStationFonts();
// A plain black panel, named and placed: the ground of the displays and of the settings pages.
QWidget* BlackPanel(QWidget* parent, const char* name, const QRect& place);
} // namespace zv

// What the settings window's language steps need of the main window.
struct TLanguageContext {
    std::filesystem::path File; // the language file
    std::function<int()> SavedIndex; // iIdioma, the saved choice
    // Runs a step; an error ends it and goes to the application's error handler.
    std::function<void(const std::function<void()>&)> Guard;
};

class TFrm_Config : public QDialog, public ISettingsFields {
    Q_OBJECT
public:
    // `faces` is the main window's bitmap list; `languages` its (hidden) language list, copied into
    // this window's own list at every show. Both must outlive the window. Without `browser` the account
    // page is shown in the real browser.
    TFrm_Config(TSkBitmapList& faces, const QComboBox& languages, QWidget* parent = nullptr,
        const TAccountBrowserFactory& browser = {});
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

    // The recording control: the entry of the control list chosen, -1 for none. Without the mixer
    // panel the number is only kept, so that a save writes back what it found.
    void SelectControl(int index) { FControl = index; }
    int SelectedControl() const { return FControl; }
    // The operator chose entry `index` of the language list: that language is opened and this window
    // alone translated (a preview until the settings are saved).
    void PreviewLanguage(int index);
    // Leaving without saving: the saved language is selected, opened and applied to this window again.
    void CloseWithoutSaving();

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
    // The mixer panel, over SkMMButton3; not there until the mixer controls are.
    QWidget* PControles = nullptr;

signals:
    // SkMMButton1: the operator asks to save.
    void SaveRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Open(bool settingsMode);
    // The mixer panel shows exactly with the settings panel, unless a sound server owns the devices.
    void ShowMixerPanel();
    void RunLanguageStep(const std::function<void()>& step);
    void OpenRecordingSettings();

    const QComboBox& FLanguages;
    TLanguageContext FLanguage;
    IMessageBoxes* FBoxes = nullptr;
    std::unique_ptr<TAccountBrowser> FBrowser;
    int FControl = -1;
};
