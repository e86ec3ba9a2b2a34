#include "station/U_Config.h"

#include "audio/MMMixCtl.h"
#include "audio/MMMixer.h"
#include "displays/MMColors.h"
#include "displays/MMDIBCv.h"
#include "platform/Mixer.h"
#include "platform/ResStrings.h"
#include "platform/WaveIn.h"
#include "skin/SkMMButton.h"
#include "skin/SkShapedForm.h"
#include "skin/skcont.h"
#include "station/LcUnit.h"
#include "station/LcWidgets.h"
#include "station/Messages.h"
#include "station/StationStrings.h"
#include "station/WordElide.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QValidator>

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

// The panel's knob: 52 x 52 around its own picture, a white ring of 11 ticks, no frame.
void SetUpKnob(TMMMixerWheel& knob, const QString& picture)
{
    knob.BeginLoading();
    knob.SetColor(clBlack);
    knob.SetBackBmp(QImage(picture));
    knob.SetRadius(11);
    knob.SetHandleSize(5);
    knob.SetHandleMargin(5);
    knob.SetFrameSpace(0);
    knob.Bevel().SetBevelOuter(bvNone);
    TMMScale& scale = knob.Scale();
    scale.SetVisible(true);
    scale.SetColor(clWhite);
    scale.SetStyle(stColor);
    scale.SetTickCount(11);
    scale.SetEnlargeEvery(5);
    scale.SetSize(7);
    scale.SetOrigin(soInner);
    scale.SetConnect(false);
    knob.EndLoading();
}

// Where a knob's caption goes: centred under it, as wide as the space between the knobs allows.
constexpr int kCaptionWidth = 90;

// A one-line field drops the line breaks of pasted text as it takes it: the field would show them as
// blanks, and cfg.ini, one line per value, could not keep them.
class TOneLineValidator final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        for (qsizetype i = input.size(); i-- > 0;) {
            const char16_t c = input[i].unicode();
            if (c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0x85 || c == 0x2028
                || c == 0x2029) {
                input.remove(i, 1);
                if (i < position) {
                    --position;
                }
            }
        }
        return Acceptable;
    }
};

} // namespace

TConfigWheel::TConfigWheel(QWidget* parent)
    : TMMMixerWheel(parent)
    , FLabel(new QLabel(parent))
{
    FLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    FLabel->setFont(zv::MakePixelFont(QStringLiteral("Courier New"), 12, true));
}

QString TConfigWheel::Caption() const
{
    return FLabel->text();
}

void TConfigWheel::SetCaption(const QString& text)
{
    FLabel->setText(text);
}

void TConfigWheel::Place(int left, int top)
{
    move(left, top);
    FLabel->setGeometry(left + width() / 2 - kCaptionWidth / 2, top + height() + 2, kCaptionWidth, 16);
}

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

TFrm_Config::TFrm_Config(TSkBitmapList& faces, const QComboBox& languages, QWidget* parent,
    const TAccountBrowserFactory& browser, zv::MixerOps* mixer)
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
    // Names longer than the boxes ("English (United States)", sound devices' descriptions) end at a
    // whole word; their lists show them whole.
    CBIdiomas = new zv::TWordElideComboBox(PConfig);
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
    for (QLineEdit* field : { EdRadio, EdUsuario, EdSenha }) {
        field->setValidator(new TOneLineValidator(field));
    }
    CBPlacas = new zv::TWordElideComboBox(PConfig);
    CBPlacas->setObjectName(QStringLiteral("CBPlacas"));
    row(124, "LPlaca", QStringLiteral("Placa:"), CBPlacas);

    // The sound-settings button sits where the mixer panel goes: that panel covers it when shown.
    SkMMButton3 = ProgramButton(PConfig, "SkMMButton3", faces, form, { 38, 200, 156, 26 }, QString());
    SkMMButton1
        = ProgramButton(PConfig, "SkMMButton1", faces, form, { 30, 312, 74, 26 }, QStringLiteral("Gravar"));
    BFechar = ProgramButton(PConfig, "BFechar", faces, form, { 128, 312, 74, 26 }, QStringLiteral("Fechar"));

    CreateMixerPanel(mixer);

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
    // The operator's choices; SettingsToDialog's selections are the program's and change nothing here.
    connect(CBPlacas, &QComboBox::activated, this, [this] { RunStep([this] { SoundCardChange(); }); });
    connect(CBControle, &QComboBox::activated, this,
        [this](int index) { RunStep([this, index] { ChooseControl(index); }); });
}

TFrm_Config::~TFrm_Config() = default;

void TFrm_Config::CreateMixerPanel(zv::MixerOps* mixer)
{
    // In front of the settings panel, over the sound-settings button.
    PControles = zv::BlackPanel(this, "PControles", { 33, 184, 232, 152 });
    PControles->setStyleSheet(
        QStringLiteral("QComboBox { color: white; background: black; font-weight: bold;"
                       " border: 1px solid rgb(90, 96, 108); padding: 0 2px; }"
                       "QComboBox QAbstractItemView { color: white; background: black; "
                       "selection-background-color: navy; }"
                       "QLabel, QCheckBox { color: white; }"
                       "QGroupBox { color: white; border: 1px solid rgb(90, 96, 108); margin-top: 7px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }"));
    const QFont labelFont = zv::MakePixelFont(QStringLiteral("Courier New"), 12, true);
    LControle = new QLabel(QStringLiteral("Controle:"), PControles);
    LControle->setObjectName(QStringLiteral("LControle"));
    LControle->setFont(labelFont);
    LControle->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LControle->setGeometry(1, 6, 74, 20);
    CBControle = new QComboBox(PControles);
    CBControle->setObjectName(QStringLiteral("CBControle"));
    CBControle->setGeometry(79, 6, 146, 20);
    // Replaced by the card's own inputs once a mixer is chosen.
    CBControle->addItems({ QStringLiteral("Entrada de Linha"), QStringLiteral("Microfone") });
    CBControle->setCurrentIndex(-1);

    GBVolume = new QGroupBox(QStringLiteral("Volume: "), PControles);
    GBVolume->setObjectName(QStringLiteral("GBVolume"));
    GBVolume->setFont(labelFont);
    GBVolume->setGeometry(8, 34, 216, 88);
    Volume = new TConfigWheel(GBVolume);
    Volume->setObjectName(QStringLiteral("Volume"));
    SetUpKnob(*Volume, QStringLiteral(":/knobs/recording.png"));
    Volume->SetCaption(QStringLiteral("Grava\u00e7\u00e3o"));
    Volume->Place(28, 14);
    MMMixerWheel1 = new TConfigWheel(GBVolume);
    MMMixerWheel1->setObjectName(QStringLiteral("MMMixerWheel1"));
    SetUpKnob(*MMMixerWheel1, QStringLiteral(":/knobs/return.png"));
    MMMixerWheel1->SetCaption(QStringLiteral("Retorno"));
    MMMixerWheel1->Place(136, 14);

    CBLineIn = new TMMMixerCheckBox(PControles);
    CBLineIn->setObjectName(QStringLiteral("CBLineIn"));
    CBLineIn->SetAutoCaption(false);
    CBLineIn->setText(QStringLiteral("Desativar retorno"));
    CBLineIn->setFont(labelFont);
    CBLineIn->setGeometry(16, 126, 208, 20);
    // Its tick is the recording source; it is set by the program, never seen.
    CBLineInRec = new TMMMixerCheckBox(PControles);
    CBLineInRec->setObjectName(QStringLiteral("CBLineInRec"));
    CBLineInRec->setGeometry(16, 200, 208, 20);
    // In the control list's and CBLineIn's places while the recording has no source lines; their
    // texts come from the resource strings when they show.
    LSemEntradas = new QLabel(PControles);
    LSemEntradas->setObjectName(QStringLiteral("LSemEntradas"));
    LSemEntradas->setFont(zv::MakePixelFont(QStringLiteral("Verdana"), 10, true));
    LSemEntradas->setWordWrap(true);
    LSemEntradas->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LSemEntradas->setGeometry(8, 1, 218, 31);
    LSemEntradas->hide();
    CBGravacao = new TMMMixerCheckBox(PControles);
    CBGravacao->setObjectName(QStringLiteral("CBGravacao"));
    CBGravacao->SetAutoCaption(false);
    CBGravacao->setFont(labelFont);
    CBGravacao->setGeometry(16, 126, 208, 20);
    CBGravacao->hide();

    // The model. The lines meet the mixer at the first sound-card change, so that a window nobody
    // set up yet reads no device.
    PlacaDevice = new TMMMixerDevice(this, mixer);
    PlacaDevice->setObjectName(QStringLiteral("PlacaDevice"));
    PlacaDevice->OnChange = [this](QObject*) {
        if (!FChangingCard) {
            PlacaDeviceChange();
        }
    };
    ComboPlaca = new TMMDeviceComboBox(this);
    ComboPlaca->setObjectName(QStringLiteral("ComboPlaca"));
    ComboPlaca->SetIncludeMapper(false);
    ComboPlaca->hide();
    AudioGravacao = new TMMAudioLine(this);
    AudioGravacao->setObjectName(QStringLiteral("AudioGravacao"));
    AudioGravacao->SetComponentType(ctDstWaveIn);
    AudioLineInRec = new TMMAudioLine(this);
    AudioLineInRec->setObjectName(QStringLiteral("AudioLineInRec"));
    AudioLineInRec->SetDestLine(AudioGravacao);
    AudioLineInRec->SetComponentType(ctSrcLine);
    AudioLineIn = new TMMAudioLine(this);
    AudioLineIn->setObjectName(QStringLiteral("AudioLineIn"));
    AudioLineIn->SetComponentType(ctSrcLine);
    MixerLineInRec = new TMMMixerControl(this);
    MixerLineInRec->setObjectName(QStringLiteral("MixerLineInRec"));
    MixerLineInRec->SetAudioLine(AudioGravacao);
    MixerLineInRec->SetControlType(ctMux);
    MixerLineIn = new TMMMixerControl(this);
    MixerLineIn->setObjectName(QStringLiteral("MixerLineIn"));
    MixerLineIn->SetAudioLine(AudioLineIn);
    MixerLineIn->SetControlType(ctMute);
    ControleVolumeRec = new TMMVolumeControl(this);
    ControleVolumeRec->setObjectName(QStringLiteral("ControleVolumeRec"));
    ControleVolumeRec->SetAudioLine(AudioLineInRec);
    ControlVolume = new TMMVolumeControl(this);
    ControlVolume->setObjectName(QStringLiteral("ControlVolume"));
    ControlVolume->SetAudioLine(AudioLineIn);
    ControleGravacao = new TMMVolumeControl(this);
    ControleGravacao->setObjectName(QStringLiteral("ControleGravacao"));
    ControleGravacao->SetAudioLine(AudioGravacao);
    MixerGravacao = new TMMMixerControl(this);
    MixerGravacao->setObjectName(QStringLiteral("MixerGravacao"));
    MixerGravacao->SetAudioLine(AudioGravacao);
    MixerGravacao->SetControlType(ctMute);

    Volume->SetControl(ControleVolumeRec);
    MMMixerWheel1->SetControl(ControlVolume);
    CBLineIn->SetControl(MixerLineIn);
    CBLineInRec->SetControl(MixerLineInRec);
    CBLineInRec->SetItemLine(AudioLineInRec);
    CBGravacao->SetControl(MixerGravacao);
    PControles->hide();
}

bool TFrm_Config::NewerWindows() const
{
    return FNewerWindows ? FNewerWindows() : zv::DefaultWaveIn().SoundServerOwnsDevices();
}

void TFrm_Config::AttachLines(TMMMixerDevice* mixer)
{
    // The destination first: the recording source is looked up among its sources.
    AudioGravacao->SetMixer(mixer);
    AudioLineInRec->SetMixer(mixer);
    AudioLineIn->SetMixer(mixer);
}

void TFrm_Config::SoundCardChange()
{
    const QString card = CBPlacas->currentIndex() >= 0 ? CBPlacas->currentText() : QString();
    // That card's mixer is not one to set from here: the mixer stays as it was.
    if (card == QLatin1String("OmniaAX")) {
        return;
    }
    if (!ComboPlaca->Device()) {
        ComboPlaca->SetDevice(PlacaDevice);
    } else {
        ComboPlaca->Refresh(); // cards may have come or gone
    }
    // The list shows whole names; mixers carry theirs cut to 31 bytes.
    char cut[zv::mixer::ProductNameChars];
    zv::CopyMixerName(card.toStdString(), cut, sizeof cut);
    const QString cardCut = QString::fromUtf8(cut);
    int found = -1;
    for (int i = 0; i < ComboPlaca->count() && !card.isEmpty(); ++i) {
        if (ComboPlaca->itemText(i).compare(card, Qt::CaseInsensitive) == 0
            || ComboPlaca->itemText(i).compare(cardCut, Qt::CaseInsensitive) == 0) {
            found = i;
            break;
        }
    }
    ComboPlaca->setCurrentIndex(found);
    {
        FChangingCard = true;
        struct Resume {
            bool& flag;
            ~Resume() { flag = false; }
        } resume { FChangingCard };
        PlacaDevice->SetActive(false);
        AttachLines(nullptr);
        PlacaDevice->SetDeviceId(found);
    }
    PlacaDeviceChange();
}

void TFrm_Config::PlacaDeviceChange()
{
    AttachLines(PlacaDevice);
    // A machine without any mixer has nothing to open; the lines then find nothing and the panel's
    // controls disable themselves.
    if (PlacaDevice->IsValid()) {
        PlacaDevice->SetActive(true);
    }
    BuildControlList();
}

void TFrm_Config::BuildControlList()
{
    CBControle->clear();
    FControlNames.clear();
    // The probe moves the recording line over every type; it comes back to its own afterwards, so the
    // knob stays on the input it was on until one is chosen.
    const TMMComponentType kept = AudioLineInRec->ComponentType();
    int count = 0;
    for (int t = 0; t < ComponentTypeCount; ++t) {
        AudioLineInRec->SetComponentType(static_cast<TMMComponentType>(t));
        if (AudioLineInRec->LineId() != badLineId) {
            FControlNames << AudioLineInRec->LineInfo().Name;
            FControlTypes[static_cast<std::size_t>(count++)] = t;
        }
    }
    AudioLineInRec->SetComponentType(kept);
    CBControle->addItems(FControlNames);
    CBControle->setCurrentIndex(-1);
    FControlListBuilt = true;
    // A mixer whose recording has no inputs of its own (a sound server's: just "Capture") would leave
    // the panel dead: the knob and the box take the recording's own volume and switch instead.
    RecordDestination(count == 0 && AudioGravacao->LineId() != badLineId);
}

void TFrm_Config::RecordDestination(bool own)
{
    FOwnRecording = own;
    if (TMMVolumeControl* volume = own ? ControleGravacao : ControleVolumeRec; Volume->Control() != volume) {
        Volume->SetControl(volume);
    }
    LControle->setVisible(!own);
    CBControle->setVisible(!own);
    CBLineIn->setVisible(!own);
    LSemEntradas->setVisible(own);
    CBGravacao->setVisible(own);
    ShowRecordingTexts();
}

void TFrm_Config::ShowRecordingTexts()
{
    LSemEntradas->setText(FOwnRecording ? zv::LoadResString(zv::SMixerWithoutInputs) : QString());
    CBGravacao->setText(FOwnRecording ? zv::LoadResString(zv::SMuteRecording) : QString());
}

void TFrm_Config::SelectControl(int index)
{
    CBControle->setCurrentIndex(index >= 0 && index < CBControle->count() ? index : -1);
    if (CBControle->currentIndex() >= 0) {
        ChooseControl(CBControle->currentIndex());
    }
}

int TFrm_Config::SelectedControl() const
{
    return CBControle->currentIndex();
}

void TFrm_Config::ChooseControl(int index)
{
    if (index < 0 || index >= CBControle->count() || index >= int(FControlTypes.size())) {
        return;
    }
    const std::int32_t type = FControlTypes[static_cast<std::size_t>(index)];
    if (type < 0 || type >= ComponentTypeCount) {
        return;
    }
    AudioLineIn->SetComponentType(static_cast<TMMComponentType>(type));
    AudioLineInRec->SetComponentType(static_cast<TMMComponentType>(type));
    // Ticked, the box makes its line the recording source.
    CBLineInRec->setChecked(true);
}

void TFrm_Config::TranslateWindow()
{
    TranslateForm(*this);
    if (FControlListBuilt) {
        for (int i = 0; i < CBControle->count() && i < FControlNames.size(); ++i) {
            CBControle->setItemText(i, FControlNames[i]);
        }
    }
    ShowRecordingTexts();
}

void TFrm_Config::Open(bool settingsMode)
{
    PConfig->setVisible(settingsMode);
    ShowMixerPanel();
    // The account page is held only while it shows.
    FBrowser->SetShown(!settingsMode);
}

void TFrm_Config::ShowMixerPanel()
{
    PControles->setVisible(!PConfig->isHidden() && !NewerWindows());
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
    RunStep([this] { TranslateWindow(); });
    ShowMixerPanel();
    QDialog::showEvent(event);
}

void TFrm_Config::hideEvent(QHideEvent* event)
{
    // Not when the window system hides it (minimised): the operator comes back to the same page.
    if (!event->spontaneous()) {
        FBrowser->SetShown(false);
    }
    QDialog::hideEvent(event);
}

void TFrm_Config::RunStep(const std::function<void()>& step)
{
    if (FLanguage.Guard) {
        FLanguage.Guard(step);
    } else {
        step();
    }
}

void TFrm_Config::PreviewLanguage(int index)
{
    RunStep([this, index] {
        CBIdiomas->setCurrentIndex(index);
        if (zv::OpenSelectedLanguage(*CBIdiomas, FLanguage.File)) {
            TranslateWindow();
        }
    });
}

void TFrm_Config::CloseWithoutSaving()
{
    bool done = false;
    RunStep([this, &done] {
        // Undoes a preview: the saved language again, on this window.
        if (FLanguage.SavedIndex) {
            const int saved = FLanguage.SavedIndex();
            CBIdiomas->setCurrentIndex(saved >= 0 && saved < CBIdiomas->count() ? saved : -1);
            if (zv::OpenSelectedLanguage(*CBIdiomas, FLanguage.File)) {
                TranslateWindow();
            }
        }
        // And the saved recording input, over one the operator tried.
        if (FLanguage.SavedControl) {
            SelectControl(FLanguage.SavedControl());
        }
        done = true;
    });
    // A failed step leaves the window open, as any failed step does.
    if (done) {
        hide();
    }
}

void TFrm_Config::reject()
{
    // Otherwise a preview would stay: this window in the previewed language, which stays open for
    // every later message, and the tried recording input on the card.
    if (isVisible()) {
        CloseWithoutSaving();
    }
    QDialog::reject();
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
