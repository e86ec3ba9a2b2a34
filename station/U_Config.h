#pragma once

// The settings window: account, radio name, sound card and language, on a skinned panel. Created
// once at the main window's first show and only hidden, never destroyed, until the program ends.
//
// Threads: user-interface thread only.

#include "station/StationInterfaces.h"

#include <QDialog>
#include <filesystem>
#include <functional>
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
    // this window's own list at every show. Both must outlive the window.
    TFrm_Config(TSkBitmapList& faces, const QComboBox& languages, QWidget* parent = nullptr);
    ~TFrm_Config() override;

    // Settings mode (BConfig): the settings panel in front. Not modal.
    void OpenSettings();
    // Information mode (BInfo): the settings panel hidden, so the account page's panel shows.
    void OpenInformation();
    // The first start without an encoding file: settings mode, modal; returns once hidden again.
    void ShowModal();

    // Without it the window has no language steps.
    void SetLanguageContext(TLanguageContext context) { FLanguage = std::move(context); }
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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Open(bool settingsMode);
    void RunLanguageStep(const std::function<void()>& step);
    void OpenRecordingSettings();

    const QComboBox& FLanguages;
    TLanguageContext FLanguage;
};
