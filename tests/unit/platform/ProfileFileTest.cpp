#include "platform/ProfileFile.h"

#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

using zv::ProfileFile;

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

std::filesystem::path Folder(const QTemporaryDir& dir)
{
    return dir.path().toStdString();
}

} // namespace

TEST(ProfileFile, ReadsValuesTheWayTheFileMeansThem)
{
    const ProfileFile file(QByteArray("Orphan=before any section\r\n"
                                      "[Outro]\nUsuario=wrong section\n"
                                      "[ geral ]\r"
                                      "; Usuario=a comment\r"
                                      "  usuario  =  maria  \r"
                                      "USUARIO=second match loses\r\n"
                                      "Radio=\"  spaced  \"\n"
                                      "Single='x'\n"
                                      "Mismatch=\"x'\n"
                                      "LoneQuote=\"\n"
                                      "Eq=a=b\n"
                                      "Empty=\n"
                                      "no equals sign here\n"
                                      "Bin=\x01\xff\x80z\n"
                                      "[Geral]\nLater=second section of the same name is not read\n"));
    const struct {
        const char* key;
        std::optional<QByteArray> value;
    } cases[] = {
        { "Usuario", QByteArray("maria") },
        { "Radio", QByteArray("  spaced  ") },
        { "Single", QByteArray("x") },
        { "Mismatch", QByteArray("\"x'") },
        { "LoneQuote", QByteArray("\"") },
        { "Eq", QByteArray("a=b") },
        { "Empty", QByteArray("") },
        { "Bin", QByteArray("\x01\xff\x80z") },
        { "Orphan", std::nullopt },
        { "Later", std::nullopt },
        { "Missing", std::nullopt },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(file.Value("Geral", c.key), c.value) << c.key;
    }
    EXPECT_EQ(file.ReadString("Geral", "Missing"), QByteArray());
}

TEST(ProfileFile, CutsLongValuesAt2047Bytes)
{
    const QByteArray longValue(5000, 'v');
    const ProfileFile file("[Geral]\nKey=" + longValue + "\n");
    EXPECT_EQ(file.ReadString("Geral", "Key"), longValue.first(2047));
}

TEST(ProfileFile, ReadsIntegersInDecimalOrHex)
{
    const struct {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        { "0x2", 2 },
        { "x", std::nullopt },
        { "", std::nullopt },
        { "-1", -1 },
        { "+7", 7 },
        { "0X1f", 31 },
        { "2147483647", 2147483647 },
        { "-2147483648", -2147483647 - 1 },
        { "2147483648", std::nullopt },
        { "12abc", std::nullopt },
        { "0x", std::nullopt },
        { "0x7fffffff", 2147483647 },
        { "0x80000000", std::nullopt },
        { "99999999999999999999", std::nullopt },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::ParseProfileInteger(c.text), c.value) << c.text;
    }
    EXPECT_EQ(ProfileFile("[Geral]\niIdioma = 0x2 \n").ReadInteger("Geral", "iIdioma", -1), 2);
    EXPECT_EQ(ProfileFile("[Geral]\n").ReadInteger("Geral", "iIdioma", -1), -1);
}

TEST(ProfileFile, UpdatesInPlaceAndKeepsEveryOtherByte)
{
    ProfileFile file(
        QByteArray("; kept comment\n[Geral]\r\nKbps=32000\r\n\xe9xtra=\xe1\r\n\r\n[Other]\nKbps=1\n"));
    file.SetValues("GERAL", { { "kbps", "64008" }, { "Novo", "n" } });
    EXPECT_EQ(file.Bytes(),
        QByteArray("; kept comment\n[Geral]\r\nkbps=64008\r\n\xe9xtra=\xe1\r\nNovo=n\r\n\r\n"
                   "[Other]\nKbps=1\n"));

    ProfileFile noBreak(QByteArray("[Geral]\nA=1"));
    noBreak.SetValues("Geral", { { "B", "2" } });
    EXPECT_EQ(noBreak.Bytes(), QByteArray("[Geral]\nA=1\r\nB=2\r\n"));

    ProfileFile empty;
    empty.SetValues("Geral", { { "A", "1" }, { "B", "" } });
    EXPECT_EQ(empty.Bytes(), QByteArray("[Geral]\r\nA=1\r\nB=\r\n"));

    ProfileFile other(QByteArray("[Other]\nX=1"));
    other.SetValues("Geral", { { "A", "1" } });
    EXPECT_EQ(other.Bytes(), QByteArray("[Other]\nX=1\r\n[Geral]\r\nA=1\r\n"));
}

TEST(ProfileFile, WhatIsWrittenReadsBackTheSame)
{
    const QByteArray values[] = { "", " lead", "trail ", "\tboth\t", "\"quoted\"", "'single'", "\"", "'",
        "mid \"dle\" x", "=", "[x]", ";c", QByteArray(1, '\x7f') + "\xff\x81" };
    ProfileFile file;
    for (const QByteArray& value : values) {
        file.SetValues("Geral", { { "Key", value } });
        EXPECT_EQ(ProfileFile(file.Bytes()).ReadString("Geral", "Key"), value) << value.toHex().constData();
    }
}

TEST(ProfileFile, RefusesWhatALineCannotCarry)
{
    const QByteArray values[] = { QByteArray("a\rb"), QByteArray("a\nb"), QByteArray("a\0b", 3) };
    for (const QByteArray& value : values) {
        ProfileFile file(QByteArray("[Geral]\nKey=old\n"));
        EXPECT_THROW(file.SetValues("Geral", { { "Key", value } }, "/x/cfg.ini"), EProfileWriteError);
        EXPECT_EQ(file.Bytes(), QByteArray("[Geral]\nKey=old\n"));
    }
    ProfileFile file;
    EXPECT_THROW(file.SetValues("Geral", { { "K=ey", "v" } }), EProfileWriteError);
    EXPECT_THROW(file.SetValues("Ger]al", { { "Key", "v" } }), EProfileWriteError);
}

TEST(ProfileFile, FailedWriteLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const auto path = Folder(dir) / "cfg.ini";
    const QByteArray old = "[Geral]\r\nUsuario=maria\r\n";
    WriteAll(path, old);

    // A file-size limit makes the write itself fail, which works even for the superuser.
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    try {
        zv::WriteProfileStrings(path, "Geral", { { "Radio", QByteArray(500, 'r') } });
        ADD_FAILURE() << "no error raised";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + QString::fromStdString(path.string()));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder(dir)), {}), 1)
        << "temporary file left";

    EXPECT_THROW(zv::WriteProfileStrings(Folder(dir) / "missing" / "cfg.ini", "Geral", { { "A", "1" } }),
        EProfileWriteError);
}

// A file that is there and cannot be read is not one without settings: reading names it and why, and a
// write does not replace it with only the keys it sets.
TEST(ProfileFile, WhatExistsAndCannotBeReadIsReportedAndKept)
{
    QTemporaryDir dir;
    const auto path = Folder(dir) / "cfg.ini";
    EXPECT_TRUE(zv::ProfileFile::Load(path).Bytes().isEmpty()) << "missing reads as empty";

    std::filesystem::create_directory(path);
    try {
        zv::ProfileFile::Load(path);
        ADD_FAILURE() << "a folder was read";
    } catch (const EProfileReadError& e) {
        EXPECT_EQ(e.Message(),
            QStringLiteral("Cannot read %1: Is a directory").arg(QString::fromStdString(path.string())));
    }
    EXPECT_THROW(zv::WriteProfileStrings(path, "Geral", { { "A", "1" } }), EProfileReadError);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);

    // A file without read permission (the superuser reads every file, so only others can see this).
    if (geteuid() != 0) {
        const QByteArray old = "[Geral]\r\nUsuario=maria\r\n";
        WriteAll(path, old);
        std::filesystem::permissions(path, std::filesystem::perms::owner_write);
        EXPECT_THROW(zv::WriteProfileStrings(path, "Geral", { { "A", "1" } }), EProfileReadError);
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(ReadAll(path), old);
    }
}
