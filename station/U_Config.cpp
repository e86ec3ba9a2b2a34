#include "station/U_Config.h"

#include "displays/MMDIBCv.h"
#include "skin/SkMMButton.h"
#include "skin/SkShapedForm.h"
#include "skin/skcont.h"
#include "station/LcUnit.h"
#include "station/LcWidgets.h"
#include "station/Messages.h"
#include "station/StationController.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>

namespace {

TSkMMButton* ProgramButton(QWidget* parent, const char* name, TSkBitmapList& faces,
    const zv::SkStoredObject& form, const QRect& place, const QString& hint)
{
    auto* button = new TSkMMButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    zv::SetUpProgramButton(button, &faces, form.RequireChild(name));
    button->setGeometry(place);
    button->setToolTip(hint);
    return button;
}

} // namespace

QWidget* zv::BlackPanel(QWidget* parent, const char* name, const QRect& place)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(place);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::black);
    panel->setPalette(palette);
    return panel;
}

void zv::InstallStationFonts()
{
    static const bool installed = [] {
        zv::InstallFontSubstitutes();
        QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
        QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono"));
        return true;
    }();
    (void)installed;
}

TFrm_Config::TFrm_Config(
    TSkBitmapList& faces, const QComboBox& languages, QWidget* parent, const TAccountBrowserFactory& browser)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , FLanguages(languages)
{
    zv::InstallStationFonts();
    setObjectName(QStringLiteral("Frm_Config"));
    setWindowTitle(QStringLiteral("Configura\u00e7\u00f5es"));
    setFixedSize(300, 414);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    Skin = new TSkShapedForm(this);
    Skin->setObjectName(QStringLiteral("Skin"));
    Skin->move(0, 0);
    Skin->SetAutoSize(true);
    Skin->SetTransparent(true);
    Skin->SetPicture(QImage(QStringLiteral(":/skins/config.png")));
    Skin->SetActive(true);

    const zv::SkStoredObject form = zv::LoadWindowData(QStringLiteral(":/forms/Frm_Config.dat"));

    // Back to front: the account page's panel, then the settings panel over it.
    PBrowser = zv::BlackPanel(this, "PBrowser", { 34, 32, 232, 345 });
    FBrowser = browser ? browser(PBrowser) : zv::MakeWebAccountBrowser(PBrowser);
    WebBrowser1 = FBrowser->View();
    WebBrowser1->setGeometry(0, 0, 232, 305);
    SkMMButton2
        = ProgramButton(PBrowser, "SkMMButton2", faces, form, { 79, 312, 74, 26 }, QStringLiteral("Fechar"));
    PConfig = zv::BlackPanel(this, "PConfig", { 34, 31, 232, 345 });

    const QFont labelFont = zv::MakePixelFont(QStringLiteral("Courier New"), 12, true);
    PConfig->setStyleSheet(
        QStringLiteral("QLineEdit, QComboBox { color: white; background: black; font-weight: bold;"
                       " border: 1px solid rgb(90, 96, 108); padding: 0 2px; }"
                       // The password shows one "*" per character, whatever the style's own mark.
                       "QLineEdit { lineedit-password-character: 42; }"
                       "QComboBox QAbstractItemView { color: white; background: black; "
                       "selection-background-color: navy; }"));
    const auto row = [&](int top, const char* name, const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, PConfig);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(labelFont);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setStyleSheet(QStringLiteral("color: white"));
        label->setGeometry(0, top, 74, 20);
        field->setGeometry(78, top, 146, 20);
    };
    CBIdiomas = new QComboBox(PConfig);
    CBIdiomas->setObjectName(QStringLiteral("CBIdiomas"));
    row(12, "LIdioma", QStringLiteral("Idioma:"), CBIdiomas);
    EdRadio = new QLineEdit(PConfig);
    EdRadio->setObjectName(QStringLiteral("EdRadio"));
    row(40, "LRadio", QStringLiteral("R\u00e1dio:"), EdRadio);
    EdUsuario = new QLineEdit(PConfig);
    EdUsuario->setObjectName(QStringLiteral("EdUsuario"));
    row(68, "LUsuario", QStringLiteral("Usu\u00e1rio:"), EdUsuario);
    EdSenha = new QLineEdit(PConfig);
    EdSenha->setObjectName(QStringLiteral("EdSenha"));
    EdSenha->setEchoMode(QLineEdit::Password);
    row(96, "LSenha", QStringLiteral("Senha:"), EdSenha);
    CBPlacas = new QComboBox(PConfig);
    CBPlacas->setObjectName(QStringLiteral("CBPlacas"));
    row(124, "LPlaca", QStringLiteral("Placa:"), CBPlacas);

    // The sound-settings button sits where the mixer panel goes: that panel covers it when shown.
    SkMMButton3 = ProgramButton(PConfig, "SkMMButton3", faces, form, { 38, 200, 156, 26 }, QString());
    SkMMButton1
        = ProgramButton(PConfig, "SkMMButton1", faces, form, { 30, 312, 74, 26 }, QStringLiteral("Gravar"));
    BFechar = ProgramButton(PConfig, "BFechar", faces, form, { 128, 312, 74, 26 }, QStringLiteral("Fechar"));

    // The messages of a refused save and of the sound-settings button, translated like any caption.
    for (const char* name : { "lblNecessarioInformarUsuario", "lblNecessarioInformarSenha",
             "lblNecessarioInformarIdioma", "lblControleGravacaoNaoEncontrado" }) {
        auto* label = new QLabel(BuiltInCaption(QString::fromLatin1(name)), this);
        label->setObjectName(QString::fromLatin1(name));
        label->hide();
    }

    // Only the operator's choice previews; filling the list at a show does not.
    connect(CBIdiomas, &QComboBox::activated, this, &TFrm_Config::PreviewLanguage);
    connect(SkMMButton1, &TSkMMButton::OnClick, this, &TFrm_Config::SaveRequested);
    connect(BFechar, &TSkMMButton::OnClick, this, &TFrm_Config::CloseWithoutSaving);
    connect(SkMMButton2, &TSkMMButton::OnClick, this, &TFrm_Config::CloseWithoutSaving);
    connect(SkMMButton3, &TSkMMButton::OnClick, this, &TFrm_Config::OpenRecordingSettings);
}

TFrm_Config::~TFrm_Config() = default;

void TFrm_Config::Open(bool settingsMode)
{
    PConfig->setVisible(settingsMode);
    ShowMixerPanel();
}

void TFrm_Config::ShowMixerPanel()
{
    if (PControles) {
        PControles->setVisible(!PConfig->isHidden() && !TStationController::IsNewerWindows());
    }
}

QString TFrm_Config::Caption(const QString& labelName) const
{
    if (const auto* label = findChild<QLabel*>(labelName, Qt::FindDirectChildrenOnly)) {
        return label->text();
    }
    return BuiltInCaption(labelName);
}

void TFrm_Config::OpenSettings()
{
    Open(true);
    show();
    raise();
    activateWindow();
}

void TFrm_Config::OpenInformation()
{
    Open(false);
    show();
    raise();
    activateWindow();
}

void TFrm_Config::ShowModal()
{
    Open(true);
    setModal(true);
    exec();
    setModal(false);
}

void TFrm_Config::showEvent(QShowEvent* event)
{
    // The language list follows the main window's, selection included.
    CBIdiomas->clear();
    for (int i = 0; i < FLanguages.count(); ++i) {
        CBIdiomas->addItem(FLanguages.itemText(i), FLanguages.itemData(i));
    }
    CBIdiomas->setCurrentIndex(FLanguages.currentIndex());
    RunLanguageStep([this] { TranslateForm(*this); });
    ShowMixerPanel();
    QDialog::showEvent(event);
}

void TFrm_Config::RunLanguageStep(const std::function<void()>& step)
{
    if (FLanguage.Guard) {
        FLanguage.Guard(step);
    } else {
        step();
    }
}

void TFrm_Config::PreviewLanguage(int index)
{
    RunLanguageStep([this, index] {
        CBIdiomas->setCurrentIndex(index);
        if (zv::OpenSelectedLanguage(*CBIdiomas, FLanguage.File)) {
            TranslateForm(*this);
        }
    });
}

void TFrm_Config::CloseWithoutSaving()
{
    bool done = false;
    RunLanguageStep([this, &done] {
        // Undoes a preview: the saved language again, on this window.
        if (FLanguage.SavedIndex) {
            const int saved = FLanguage.SavedIndex();
            CBIdiomas->setCurrentIndex(saved >= 0 && saved < CBIdiomas->count() ? saved : -1);
            if (zv::OpenSelectedLanguage(*CBIdiomas, FLanguage.File)) {
                TranslateForm(*this);
            }
        }
        // The control list's saved entry comes back here too, once the mixer panel is there.
        done = true;
    });
    // A failed step leaves the window open, as any failed step does.
    if (done) {
        hide();
    }
}

void TFrm_Config::OpenRecordingSettings()
{
    // The desktop's recording settings: the sound server's volume control on its recording tab, or
    // the ALSA mixer's capture view in a terminal (every x-terminal-emulator takes "-e command ...").
    const auto found = [](const char* name) {
        return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
    };
    bool started = false;
    if (found("pavucontrol")) {
        started = QProcess::startDetached(QStringLiteral("pavucontrol"), { QStringLiteral("--tab=2") });
    }
    if (!started && found("alsamixer")) {
        for (const char* terminal : { "x-terminal-emulator", "xterm" }) {
            if (found(terminal)) {
                started = QProcess::startDetached(QString::fromLatin1(terminal),
                    { QStringLiteral("-e"), QStringLiteral("alsamixer"), QStringLiteral("-V"),
                        QStringLiteral("capture") });
                break;
            }
        }
    }
    if (!started && FBoxes) {
        FBoxes->ShowMessage(Caption(QStringLiteral("lblControleGravacaoNaoEncontrado")));
    }
}

QString TFrm_Config::RadioName() const
{
    return EdRadio->text();
}

std::optional<QString> TFrm_Config::SelectedSoundCard() const
{
    if (CBPlacas->currentIndex() < 0) {
        return std::nullopt;
    }
    return CBPlacas->currentText();
}

QString TFrm_Config::UserName() const
{
    return EdUsuario->text();
}
