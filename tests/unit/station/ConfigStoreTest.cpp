#include "station/ConfigStore.h"

#include "platform/Ansi.h"
#include "platform/ProfileFile.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

void WriteAll(const std::filesystem::path& path, const QByteArray& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
}

// Every byte that stands for a printable Windows-1252 character (0x81, 0x8D, 0x8F, 0x90 and 0x9D stand
// for none).
std::vector<unsigned char> PrintableBytes()
{
    std::vector<unsigned char> bytes;
    for (int b = 0x20; b <= 0xFF; ++b) {
        if (b != 0x7F && b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
            bytes.push_back(static_cast<unsigned char>(b));
        }
    }
    return bytes;
}

struct ConfigStoreTest : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path folder { dir.path().toStdString() };
    TConfigStore store { folder };
};

} // namespace

TEST_F(ConfigStoreTest, MissingFileIsCreatedWithTheNineDefaults)
{
    const TSettings s = store.LoadSettings();
    EXPECT_EQ(ReadAll(folder / "cfg.ini"),
        QByteArray("[Geral]\r\nControle=0\r\nUsuario=\r\nSenha=\r\nPlaca=0\r\nRadio=\r\n"
                   "Kbps=32000\r\nServidor=varekradio.net.br\r\nServerDefault=ns1\r\n"
                   "iIdioma=-1\r\n"));
    EXPECT_EQ(s.Controle, "0");
    EXPECT_EQ(s.Usuario, "");
    EXPECT_EQ(s.Senha, "");
    EXPECT_EQ(s.Placa, "0");
    EXPECT_EQ(s.Radio, "");
    EXPECT_EQ(s.Kbps, "32000");
    EXPECT_EQ(s.Servidor, "varekradio.net.br");
    EXPECT_EQ(s.ServerDefault, "ns1");
    EXPECT_EQ(s.iIdioma, -1);
}

TEST(ScramblePassword, KeyKeepsPrintableBytesPrintableAndIsItsOwnInverse)
{
    EXPECT_EQ(ScramblePassword(ScramblePassword("abc")), QByteArray("abc"));
    EXPECT_EQ(ScramblePassword(""), QByteArray());
    for (const unsigned char c : PrintableBytes()) {
        const auto s = static_cast<unsigned char>(ScramblePassword(QByteArray(1, static_cast<char>(c)))[0]);
        // Never a control byte: NUL, tab, CR and LF cannot arise at all.
        EXPECT_GE(s, 0x20) << std::hex << int(c);
        EXPECT_NE(s, c);
    }
}

TEST_F(ConfigStoreTest, EveryPrintablePasswordCharacterSurvivesTheFileAtEveryPlace)
{
    for (const unsigned char c : PrintableBytes()) {
        const QByteArray one(1, static_cast<char>(c));
        // Alone, leading, trailing, inside, and doubled at both ends: blanks and quotes at the ends are
        // what reading strips.
        for (const QByteArray& ansi :
            { one, one + "pw", "pw" + one, "p" + one + "w", one + one + "x" + one + one }) {
            TDialogSettings values;
            values.Senha = zv::FromAnsi(ansi);
            store.WriteDialogSettings(values);
            const QByteArray stored = zv::ProfileFile::Read(store.Path()).ReadString("Geral", "Senha");
            EXPECT_EQ(stored, ScramblePassword(ansi)) << std::hex << int(c);
            EXPECT_NE(stored, ansi);
            EXPECT_EQ(store.LoadSettings().Senha, values.Senha) << std::hex << int(c);
        }
    }
}

TEST_F(ConfigStoreTest, DialogSaveWritesItsKeysOnlyAndKeepsTheRest)
{
    WriteAll(folder / "cfg.ini", "[Geral]\r\nServidor=teste.example\r\nServerDefault=ns3\r\nExtra=\xe9\r\n");
    TDialogSettings values { 1, -1, QStringLiteral("jo\u00e3o"), QString(),
        QStringLiteral("R\u00e1dio \u20ac"), QStringLiteral("64008"), 2 };
    store.WriteDialogSettings(values);
    EXPECT_EQ(ReadAll(folder / "cfg.ini"),
        QByteArray("[Geral]\r\nServidor=teste.example\r\nServerDefault=ns3\r\nExtra=\xe9\r\nPlaca=1\r\n"
                   "Controle=-1\r\nUsuario=jo\xe3o\r\nSenha=\r\nRadio=R\xe1"
                   "dio \x80\r\nKbps=64008\r\n"
                   "iIdioma=2\r\n"));
    const TSettings s = store.LoadSettings();
    EXPECT_EQ(s.Usuario, QStringLiteral("jo\u00e3o"));
    EXPECT_EQ(s.Radio, QStringLiteral("R\u00e1dio \u20ac"));
    EXPECT_EQ(s.Servidor, "teste.example");
    EXPECT_EQ(s.ServerDefault, "ns3");

    store.WriteKbps(QStringLiteral("128016"));
    EXPECT_EQ(store.LoadSettings().Kbps, "128016");
}

// The dialog's texts: what the file cannot keep is refused before it is touched, by a message that
// names the field and (but for the password) what it cannot hold; the rest reads back as it was typed.
TEST_F(ConfigStoreTest, DialogTextsTheFileCannotKeepAreRefusedByFieldAndTheRestKept)
{
    store.LoadSettings();
    const QString tail
        = QStringLiteral(": cfg.ini keeps one line of Windows-1252 text (the letters and signs of "
                         "Western European languages)");
    const QString radio = QStringLiteral("The radio name cannot hold ");
    const QString user = QStringLiteral("The user name cannot hold ");
    const QString password
        = QStringLiteral("The password holds a character that cfg.ini cannot keep: it keeps one line of "
                         "Windows-1252 text (the "
                         "letters and signs of Western European languages), without control characters");
    enum Field { Radio, Usuario, Senha };
    const struct {
        Field field;
        QString text;
        QString refusal; // empty: kept
    } cases[] = {
        { Radio, QStringLiteral("R\u00e1dio \u20ac \u201cAo vivo\u201d \u2013 24h\u2026"), {} },
        { Radio, QStringLiteral("R\u00e1dio \u5317\u4eac\u53f0 \u5317"),
            radio + QStringLiteral("\"\u5317\", \"\u4eac\", \"\u53f0\"") + tail },
        { Radio, QStringLiteral("R\u0101dio"), radio + QStringLiteral("\"\u0101\"") + tail },
        { Radio, QStringLiteral("Som \U0001F3B5"), radio + QStringLiteral("\"\U0001F3B5\"") + tail },
        { Radio, QStringLiteral("linha\r\noutra"), radio + QStringLiteral("U+000D, U+000A") + tail },
        { Radio, QStringLiteral("\u4e00\u4e8c\u4e09\u56db\u4e94\u516d\u4e03\u516b\u4e5d\u5341"),
            radio
                + QStringLiteral("\"\u4e00\", \"\u4e8c\", \"\u4e09\", \"\u56db\", \"\u4e94\", \"\u516d\", "
                                 "\"\u4e03\", \"\u516b\", \u2026")
                + tail },
        { Usuario, QStringLiteral("jos\u00e9.s\u00e1"), {} },
        { Usuario, QStringLiteral("\u738b"), user + QStringLiteral("\"\u738b\"") + tail },
        { Usuario, QStringLiteral("a") + QChar(0), user + QStringLiteral("U+0000") + tail },
        { Senha, QStringLiteral("s\u00eanha \u20ac\tx"), {} },
        { Senha, QStringLiteral("\u5bc6\u7801"), password },
        // Bytes that the scrambling would turn into NUL, LF and CR.
        { Senha, QStringLiteral("a\x1f"), password },
        { Senha, QStringLiteral("a\x15"), password },
        { Senha, QStringLiteral("a\x12"), password },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        TDialogSettings values;
        (c.field == Radio ? values.Radio : c.field == Usuario ? values.Usuario : values.Senha) = c.text;
        const QByteArray before = ReadAll(folder / "cfg.ini");
        if (c.refusal.isEmpty()) {
            EXPECT_NO_THROW(store.WriteDialogSettings(values));
            const TSettings s = store.LoadSettings();
            EXPECT_EQ(c.field == Radio ? s.Radio : c.field == Usuario ? s.Usuario : s.Senha, c.text);
            continue;
        }
        try {
            CheckDialogFields(values);
            ADD_FAILURE() << "not refused";
        } catch (const ESettingsFieldError& e) {
            EXPECT_EQ(e.Message(), c.refusal);
        }
        EXPECT_THROW(store.WriteDialogSettings(values), ESettingsFieldError);
        EXPECT_EQ(ReadAll(folder / "cfg.ini"), before);
    }
}

TEST_F(ConfigStoreTest, IdiomaReadsDecimalOrHexAndMinusOneOtherwise)
{
    const struct {
        const char* text;
        int value;
    } cases[] = { { "0x2", 2 }, { "x", -1 }, { "3", 3 }, { "", -1 } };
    for (const auto& c : cases) {
        WriteAll(folder / "cfg.ini", QByteArray("[Geral]\niIdioma=") + c.text + "\n");
        EXPECT_EQ(store.LoadSettings().iIdioma, c.value) << c.text;
    }
}

TEST_F(ConfigStoreTest, GarbageLoadsWithoutHarmAndMissingKeysReadEmpty)
{
    QByteArray garbage = QByteArray("\0\xff", 2) + "\n[\n[Geral\r\n=\n==\n]\nKbps\n";
    garbage += "Usuario=" + QByteArray(100000, '\xe9') + "\n";
    for (int b = 0; b < 256; ++b) {
        garbage += static_cast<char>(b);
    }
    garbage += "\nRadio=\x01\x02\x7f\n";
    WriteAll(folder / "cfg.ini", garbage);
    const TSettings s = store.LoadSettings();
    EXPECT_EQ(s.Usuario, QString(2047, QChar(0xe9)));
    EXPECT_EQ(s.Radio, QStringLiteral("\x01\x02\x7f"));
    EXPECT_EQ(s.Kbps, QString());
    EXPECT_EQ(s.Servidor, QString());
    EXPECT_EQ(s.iIdioma, -1);
    EXPECT_EQ(ReadAll(folder / "cfg.ini"), garbage) << "an existing file is not rewritten by loading";
}
