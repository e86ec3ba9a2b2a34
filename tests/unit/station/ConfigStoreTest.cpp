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

TEST_F(ConfigStoreTest, TextTheFileCannotHoldIsRefusedAndTheFileKept)
{
    store.LoadSettings();
    const QByteArray before = ReadAll(folder / "cfg.ini");
    for (const QString& radio : { QStringLiteral("R\u0101dio"), QStringLiteral("a\nb") }) {
        TDialogSettings values;
        values.Radio = radio;
        EXPECT_THROW(store.WriteDialogSettings(values), EProfileWriteError);
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
