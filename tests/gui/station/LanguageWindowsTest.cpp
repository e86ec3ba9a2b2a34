// Both windows in other languages: the translation sources against the windows' texts, the language
// list and choice at the main window's creation, the settings window's copy, preview and undo, and a
// missing or damaged language file.

#include "audio/MMWavIn.h"
#include "displays/MMLevel.h"
#include "platform/Locales.h"
#include "platform/ResStrings.h"
#include "platform/WaveIn.h"
#include "skin/SkMMButton.h"
#include "skin/SkWindowData.h"
#include "skin/skcont.h"
#include "station/EncoderContract.h"
#include "station/LcUnit.h"
#include "station/LcWidgets.h"
#include "station/StreamDetails.h"
#include "station/U_Config.h"
#include "station/U_ZoVeva.h"
#include "tests/support/ScriptedEncoder.h"
#include "tests/support/StationDoubles.h"
#include "tools/lcfbuild/LcfBuild.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

using zv::test::EncoderScript;
using zv::test::FakeFactory;

std::optional<QString> Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The %1, %2, ... of a message, sorted.
QStringList Placeholders(const QString& text)
{
    static const QRegularExpression argument(QStringLiteral("%[1-9]"));
    QStringList found;
    for (auto match = argument.globalMatch(text); match.hasNext();) {
        found << match.next().captured();
    }
    found.sort();
    return found;
}

QStringList LanguageSources()
{
    const QDir lang(QStringLiteral(ZOVEVA_LANG_DIR));
    QStringList files;
    for (const QString& name : lang.entryList({ QStringLiteral("*.po") }, QDir::Files, QDir::Name)) {
        files << lang.filePath(name);
    }
    return files;
}

class Languages : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        Binding = zv::MakeSyntheticWaveIn(zv::SyntheticDevicesFromEnvironment());
    }

    void TearDown() override
    {
        Window.reset();
        CloseLanguage();
    }

    void WriteFile(const char* name, const QByteArray& bytes)
    {
        QFile file(Folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // cfg.ini of a user whose encoder and encoding file are there (unless `encodingFile` is false).
    void PrepareUser(int iIdioma, bool encodingFile = true)
    {
        WriteFile("cfg.ini",
            "[Geral]\r\nControle=0\r\nUsuario=demo\r\nSenha=\r\nPlaca=0\r\nRadio=R\r\nKbps=32000\r\n"
            "Servidor=0.0.1\r\nServerDefault=127\r\niIdioma="
                + QByteArray::number(iIdioma) + "\r\n");
        if (encodingFile) {
            QFile::copy(QStringLiteral(ZOVEVA_SOURCE_PADRAO), Folder.filePath(QStringLiteral("demo.xml")));
        }
        WriteFile("zoveva-encoder", "#!/bin/sh\n");
    }

    // ZoVeva.lcf from the project's own sources, in the order given (file names under lang/).
    void WriteProjectLanguages(const QStringList& names)
    {
        QStringList files;
        for (const QString& name : names) {
            files << QStringLiteral(ZOVEVA_LANG_DIR "/") + name;
        }
        WriteLanguageFile(zv::lcf::ReadPoSources(files));
    }

    void WriteLanguageFile(const zv::lcf::TLcfContent& content)
    {
        WriteFile("ZoVeva.lcf", zv::lcf::BuildResourceModule(zv::lcf::LanguageResources(content)));
    }

    void Create()
    {
        TFrm_ZoVeva::Options options;
        options.Boxes = &MessageBoxes;
        options.WaveInBinding = Binding.get();
        options.Terminate = [] {};
        Window = std::make_unique<TFrm_ZoVeva>(Folder.path().toStdString(), Clock, Factory, options);
    }

    void CreateAndShow()
    {
        Create();
        Window->show();
        QApplication::processEvents();
    }

    QStringList ListTexts(const QComboBox& list) const
    {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i) {
            texts << list.itemText(i);
        }
        return texts;
    }

    QTemporaryDir Folder;
    zv::VirtualClock Clock;
    // The encoder's run state is the test's.
    EncoderScript Script = [] {
        EncoderScript script;
        script.lastState = EncoderRunState::Starting;
        return script;
    }();
    FakeFactory Factory { Script };
    zv::test::RecordedBoxes MessageBoxes;
    std::unique_ptr<zv::WaveInOps> Binding;
    std::unique_ptr<TFrm_ZoVeva> Window;
};

} // namespace

// A text of either window, or a resource string, that a source lacks fails here; so does a source
// whose msgid no longer is the program's built-in text (its translation would be out of date).
TEST_F(Languages, EverySourceTranslatesEveryTextOfBothWindowsAndEveryResourceString)
{
    // The windows as built, before any setting or device fills their fields.
    PrepareUser(-1);
    Create();
    TSkBitmapList faces;
    QComboBox languages;
    TFrm_Config config(faces, languages);
    std::vector<std::pair<QString, QString>> wanted;
    for (const auto& [key, text] : zv::TranslatableTexts(*Window)) {
        wanted.emplace_back(QStringLiteral("TFrm_ZoVeva|") + QString::fromLatin1(key), text);
    }
    for (const auto& [key, text] : zv::TranslatableTexts(config)) {
        wanted.emplace_back(QStringLiteral("TFrm_Config|") + QString::fromLatin1(key), text);
    }
    for (int id : zv::BuiltInResStringIds()) {
        wanted.emplace_back(QString::number(id), zv::BuiltInResString(id));
    }
    ASSERT_GT(wanted.size(), 40u);

    const QStringList sources = LanguageSources();
    ASSERT_EQ(sources.size(), 3) << "pt_BR, en_US and es_ES";
    for (const QString& file : sources) {
        const zv::lcf::TPoSource source = zv::lcf::ReadPoSource(file);
        for (const auto& [context, builtIn] : wanted) {
            const auto found = std::find_if(source.Messages.begin(), source.Messages.end(),
                [&](const auto& m) { return m.Context == context; });
            if (found == source.Messages.end()) {
                ADD_FAILURE() << qPrintable(file) << " lacks " << qPrintable(context);
                continue;
            }
            EXPECT_TRUE(found->Translation && !found->Translation->isEmpty())
                << qPrintable(file) << ": no text for " << qPrintable(context);
            EXPECT_EQ(found->Source, builtIn) << qPrintable(file) << ": msgid of " << qPrintable(context);
            // A message's arguments (a file, a reason) must survive its translation.
            if (found->Translation && !found->Translation->isEmpty()) {
                EXPECT_EQ(Placeholders(*found->Translation), Placeholders(builtIn))
                    << qPrintable(file) << ": arguments of " << qPrintable(context);
            }
        }
    }
    // The program's own file has all three, Portuguese first.
    EXPECT_EQ(zv::lcf::ReadPoSources(sources).Lcids.size(), 3u);
}

TEST_F(Languages, CreationListsTheFilesLanguagesAndTakesPortugueseWhenNoneWasChosen)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1034, 1046, 0x1234 };
    content.Windows.push_back({ QStringLiteral("TFrm_ZoVeva"),
        { { "BConfig-Hint", { Text("Configuración"), Text("Ajustes"), std::nullopt } } } });
    WriteLanguageFile(content);
    PrepareUser(-1);
    Create();

    QComboBox& list = *Window->CBIdiomas;
    EXPECT_EQ(ListTexts(list),
        QStringList(
            { *zv::LocaleDisplayName(1034), QStringLiteral("Portugu\u00eas (Brasil)"), "<unknown>" }));
    EXPECT_EQ(list.itemData(2).toUInt(), 0x1234u);
    EXPECT_FALSE(list.isVisible());
    // 1046 is entry 1: selected, and the index the next save stores.
    EXPECT_EQ(list.currentIndex(), 1);
    EXPECT_EQ(Window->Controller().Settings().iIdioma, 1);
    EXPECT_EQ(TLcf::Instance().Lcid(), 1046u);
    EXPECT_EQ(Window->BConfig->toolTip(), "Ajustes");
    EXPECT_TRUE(MessageBoxes.errors.isEmpty());
}

TEST_F(Languages, EnglishChosenTranslatesTheMainWindowItsStatusAndItsMessages)
{
    WriteProjectLanguages({ "pt_BR.po", "en_US.po", "es_ES.po" });
    PrepareUser(1, false);
    CreateAndShow();
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Varek R\u00e1dio Zoveva"));
    EXPECT_EQ(Window->BConfig->toolTip(), "Settings");
    EXPECT_EQ(Window->BFechar->toolTip(), "Quit");
    EXPECT_EQ(Window->Maximizar1->text(), "Restore");
    EXPECT_EQ(Window->LStatus->text(), "Connecting...");
    EXPECT_EQ(Window->MMLevel1->toolTip(), "click to change the style,\ndouble click to disable the level");
    EXPECT_EQ(zv::LoadResString(zv::SPropertyWhileOpen), "Change to property while device was open");

    // The first start without an encoding file asks for the settings, modally, after its message: the
    // window opens from the event loop, and this runs in its modal loop.
    bool asked = false;
    Clock.Advance(100); // first start
    QTimer::singleShot(0, [&] {
        TFrm_Config* config = Window->Frm_Config();
        asked = config->isVisible();
        EXPECT_EQ(config->windowTitle(), "Settings");
        config->CloseWithoutSaving();
    });
    QTimer::singleShot(5000, [&] { Window->Frm_Config()->hide(); });
    QApplication::processEvents();
    EXPECT_TRUE(asked);
    EXPECT_EQ(MessageBoxes.messages, QStringList { "Encoding file not found!" });

    // Once the encoding file is there, on the air: the status text is read from its label then.
    Window.reset();
    PrepareUser(1);
    CreateAndShow();
    Clock.Advance(100);
    Script.lastState = EncoderRunState::Running;
    Clock.Advance(1000);
    EXPECT_EQ(Window->LStatus->text(), "Connected");
}

// One listener in the singular, none and several in the plural, in each language of the program's file.
TEST_F(Languages, ListenerCountTakesSingularAndPluralInEachLanguage)
{
    WriteProjectLanguages({ "pt_BR.po", "en_US.po", "es_ES.po" });
    const struct {
        int iIdioma;
        const char* none;
        const char* one;
        const char* several;
        const char* oneOfPeak;
    } languages[] = {
        { 0, "0 ouvintes", "1 ouvinte", "2 ouvintes", "1 ouvinte (m\u00e1ximo 3)" },
        { 1, "0 listeners", "1 listener", "2 listeners", "1 listener (peak 3)" },
        { 2, "0 oyentes", "1 oyente", "2 oyentes", "1 oyente (m\u00e1ximo 3)" },
    };
    for (const auto& language : languages) {
        SCOPED_TRACE(language.iIdioma);
        Window.reset();
        PrepareUser(language.iIdioma);
        Create();
        const auto count = [](int listeners, int peak) {
            TStreamDetails details;
            details.OnAir = true;
            details.Listeners = listeners;
            details.ListenerPeak = peak;
            return StreamDetailsText(QString(), details).split(QStringLiteral(" \u2014 ")).last();
        };
        EXPECT_EQ(count(0, -1), QString::fromUtf8(language.none));
        EXPECT_EQ(count(1, -1), QString::fromUtf8(language.one));
        EXPECT_EQ(count(2, -1), QString::fromUtf8(language.several));
        EXPECT_EQ(count(1, 3), QString::fromUtf8(language.oneOfPeak));
    }
}

TEST_F(Languages, SettingsWindowCopiesTheListPreviewsAChoiceAndUndoesItWhenClosedWithoutSaving)
{
    WriteProjectLanguages({ "pt_BR.po", "en_US.po", "es_ES.po" });
    PrepareUser(1);
    CreateAndShow();
    TFrm_Config& config = *Window->Frm_Config();
    config.OpenSettings();
    QApplication::processEvents();

    EXPECT_EQ(ListTexts(*config.CBIdiomas), ListTexts(*Window->CBIdiomas));
    EXPECT_EQ(config.CBIdiomas->currentIndex(), 1);
    EXPECT_EQ(config.windowTitle(), "Settings");
    EXPECT_EQ(config.findChild<QLabel*>(QStringLiteral("LSenha"))->text(), "Password:");
    EXPECT_EQ(config.findChild<QLabel*>(QStringLiteral("lblNecessarioInformarUsuario"))->text(),
        "The user name is required!");

    // The operator picks Spanish: only this window follows. Every way of leaving without a save
    // undoes it: the close buttons, the window's close request and the Escape key.
    const std::pair<const char*, std::function<void()>> ways[] = {
        { "close button", [&] { config.CloseWithoutSaving(); } },
        { "close request", [&] { config.close(); } },
        { "Escape",
            [&] {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(&config, &escape);
            } },
    };
    for (const auto& [way, leave] : ways) {
        SCOPED_TRACE(way);
        config.OpenSettings();
        QApplication::processEvents();
        emit config.CBIdiomas->activated(2);
        EXPECT_EQ(config.windowTitle(), QStringLiteral("Configuraci\u00f3n"));
        EXPECT_EQ(config.SkMMButton1->toolTip(), "Guardar");
        EXPECT_EQ(Window->BConfig->toolTip(), "Settings");
        EXPECT_EQ(Window->CBIdiomas->currentIndex(), 1);

        leave();
        EXPECT_FALSE(config.isVisible());
        EXPECT_EQ(config.CBIdiomas->currentIndex(), 1);
        EXPECT_EQ(config.windowTitle(), "Settings");
        EXPECT_EQ(config.SkMMButton1->toolTip(), "Save");
        EXPECT_EQ(TLcf::Instance().Lcid(), 1033u);
    }
    EXPECT_TRUE(MessageBoxes.errors.isEmpty());
}

// The messages the components make at the moment of an error, in the open language: the level bar,
// the wave-in (its own text and the sound service's after the operation's prefix), the skin.
TEST_F(Languages, ComponentsReportTheirErrorsInTheOpenLanguage)
{
    WriteProjectLanguages({ "pt_BR.po", "en_US.po", "es_ES.po" });
    const auto file = Folder.filePath(QStringLiteral("ZoVeva.lcf")).toStdString();
    const auto message = [](const std::function<void()>& fail) {
        try {
            fail();
        } catch (const Exception& e) {
            return e.Message();
        }
        return QStringLiteral("no error");
    };
    TMMLevel level;
    TWaveFormatEx mono24 {};
    MakePCMFormat(mono24, 24, 1, 44100);
    auto none = zv::MakeSyntheticWaveIn({});
    TMMWaveIn noDevice(*none);
    auto unreadable = zv::MakeSyntheticWaveIn(
        { { zv::SyntheticDevice::WavFile, "Missing", "/nonexistent/zoveva.wav", -1, true } });
    TMMWaveIn missingFile(*unreadable);
    missingFile.SetDeviceID(0);
    const std::vector<std::function<void()>> failures {
        [&] { level.SetPCMFormat(&mono24); },
        [&] { noDevice.Open(); },
        [&] { missingFile.Open(); },
        [] { zv::ReadWindowData("junk"); },
    };
    struct Case {
        std::uint32_t lcid;
        QStringList texts;
    };
    const Case cases[] = {
        { 3082,
            { QStringLiteral("WaveFormat no válido"),
                QStringLiteral("No se encontró ningún dispositivo de grabación de audio"),
                QStringLiteral("WaveInOpen:\n\rNo se puede leer el archivo de origen"),
                QStringLiteral("No son datos de ventana (sin la firma ZVWD)") } },
        { 1046,
            { QStringLiteral("WaveFormat inválido"),
                QStringLiteral("Nenhum dispositivo de gravação de áudio encontrado"),
                QStringLiteral("WaveInOpen:\n\rO arquivo de origem não pode ser lido"),
                QStringLiteral("Não são dados de janela (sem a assinatura ZVWD)") } },
    };
    for (const Case& c : cases) {
        ASSERT_EQ(OpenLanguage(file, c.lcid), olOpened);
        for (std::size_t i = 0; i < failures.size(); ++i) {
            EXPECT_EQ(message(failures[i]), c.texts[int(i)]) << c.lcid;
        }
    }
    // Closed: the built-in texts again.
    CloseLanguage();
    EXPECT_EQ(message(failures[0]), "Invalid WaveFormat");
    EXPECT_EQ(message(failures[3]), "Not window data (no ZVWD signature)");
}

TEST_F(Languages, ListLinesOfAComboBoxAreReplacedInPlace)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1046 };
    content.Windows.push_back({ QStringLiteral("TFrm_Config"),
        { { "CBPlacas-Items(1).Text", { Text("Sil\u00eancio") } },
            { "CBPlacas-Items(0)", { Text("ignored") } } } });
    WriteLanguageFile(content);
    PrepareUser(0);
    CreateAndShow(); // lists the synthetic devices in the settings window
    QComboBox& cards = *Window->Frm_Config()->CBPlacas;
    ASSERT_GE(cards.count(), 2);
    const QString first = cards.itemText(0);
    cards.setItemData(1, 42);
    Window->Frm_Config()->OpenSettings();
    EXPECT_EQ(cards.itemText(0), first);
    EXPECT_EQ(cards.itemText(1), QStringLiteral("Sil\u00eancio"));
    EXPECT_EQ(cards.itemData(1).toInt(), 42);
    EXPECT_EQ(cards.currentIndex(), 0);
}

TEST_F(Languages, MissingOrDamagedFileLeavesPortugueseAndAnEmptyList)
{
    WriteProjectLanguages({ "pt_BR.po", "en_US.po" });
    QFile file(Folder.filePath(QStringLiteral("ZoVeva.lcf")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    QByteArray wrongMagic = good;
    wrongMagic.replace(QByteArray("LCHEADER\0", 9), QByteArray("LCHEADXR\0", 9));
    for (const QByteArray& bytes :
        { QByteArray(), QByteArray("MZ junk"), good.left(good.size() / 2), wrongMagic }) {
        WriteFile("ZoVeva.lcf", bytes);
        PrepareUser(1);
        CreateAndShow();
        EXPECT_EQ(Window->CBIdiomas->count(), 0);
        EXPECT_EQ(Window->BConfig->toolTip(), QStringLiteral("Configura\u00e7\u00f5es"));
        EXPECT_EQ(Window->Frm_Config()->windowTitle(), QStringLiteral("Configura\u00e7\u00f5es"));
        EXPECT_FALSE(TLcf::Instance().IsOpen());
        EXPECT_TRUE(MessageBoxes.errors.isEmpty()) << qPrintable(MessageBoxes.errors.join('\n'));
        Window.reset();
    }
    QFile::remove(Folder.filePath(QStringLiteral("ZoVeva.lcf")));
    CreateAndShow();
    EXPECT_EQ(Window->CBIdiomas->count(), 0);
}

TEST_F(Languages, ABadPathEndsTheWindowsTranslationThroughTheErrorHandler)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1046 };
    // Applied last entry first: the caption after the bad path is never reached.
    content.Windows.push_back({ QStringLiteral("TFrm_ZoVeva"),
        { { "BConfig-Hint", { Text("never") } }, { "CBIdiomas-Items(one).Text", { Text("x") } } } });
    WriteLanguageFile(content);
    PrepareUser(-1);
    Create();
    EXPECT_EQ(Window->BConfig->toolTip(), QStringLiteral("Configura\u00e7\u00f5es"));
    ASSERT_EQ(MessageBoxes.errors.size(), 1);
    EXPECT_TRUE(MessageBoxes.errors[0].contains(QLatin1String("'one' is not a valid integer value")))
        << qPrintable(MessageBoxes.errors[0]);
    QFile log(Folder.filePath(QStringLiteral("ZoVeva.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("ELcfError"));
}
