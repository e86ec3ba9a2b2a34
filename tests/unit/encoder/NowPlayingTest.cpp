#include "encoder/NowPlaying.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

using namespace std::chrono_literals;
using zv::TitleFromBytes;

// What a playout's file may hold, and the title made of it.
TEST(NowPlaying, TitleIsTheCleanFirstLineInEitherEncoding)
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const struct {
        const char* name;
        QByteArray bytes;
        QString title;
    } cases[] = {
        { "UTF-8", "Primeira Canção\n", QStringLiteral("Primeira Canção") },
        { "byte order mark, CR LF, second line",
            "\xEF\xBB\xBF"
            "Com BOM\r\nsegunda",
            QStringLiteral("Com BOM") },
        { "Windows-1252",
            "Can\xe7\xe3o \x93"
            "aspas\x94",
            QStringLiteral("Canção \u201Caspas\u201D") },
        { "C0 controls, tab and DEL",
            "A\x01"
            "B\tC\x7f D",
            QStringLiteral("A B C D") },
        { "C1 control and line separator in UTF-8",
            "A\xC2\x85"
            "B\xE2\x80\xA8"
            "C",
            QStringLiteral("A B C") },
        { "runs of blanks", "   muito    espaço   ", QStringLiteral("muito espaço") },
        { "empty", "", QString() },
        { "empty first line", "\nsegunda", QString() },
        { "too long", QByteArray(300, 'x'), QString(255, u'x') },
        { "cut after a character outside the basic plane", QByteArray(254, 'x') + emoji.toUtf8() + "yz",
            QString(254, u'x') + emoji },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TitleFromBytes(c.bytes, false).toStdString(), c.title.toStdString()) << c.name;
    }
    // A read that stopped inside a character: the UTF-8 line is still UTF-8, not Windows-1252.
    EXPECT_EQ(TitleFromBytes("ab\xC3", true), QStringLiteral("ab"));
    EXPECT_EQ(TitleFromBytes("ab\xC3", false), QStringLiteral("abÃ"));
}

TEST(NowPlaying, ReadsOnlyWhatATitleFileHoldsAndSaysWhatIsWrong)
{
    QTemporaryDir dir;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    const QByteArray longLine = 'a' + QString(3000, u'é').toUtf8(); // the read ends inside an "é"
    const struct {
        const char* name;
        QString path;
        std::optional<QString> title;
        const char* problem;
    } cases[] = {
        { "missing", dir.filePath(QStringLiteral("nada.txt")), std::nullopt, "is not there" },
        { "folder", dir.path(), std::nullopt, "is not a regular file" },
        { "pipe, nobody writing", dir.filePath(QStringLiteral("pipe")), std::nullopt,
            "is not a regular file" },
        { "binary", write(QStringLiteral("bin"), QByteArray("ID3\x04\0\0\0\0\x01\x23", 10)), std::nullopt,
            "holds binary data, not a line of text" },
        // A playout's stray controls (SOH, ESC, VT, FF, US) are blanks in a title, not binary data.
        { "controls in a title",
            write(QStringLiteral("controles"),
                "\x01"
                "Banda\x1b\x0b Can\xc3\xa7\xc3\xa3o\x0c\x1f!\n"),
            QStringLiteral("Banda Can\u00e7\u00e3o !"), "" },
        { "half controls", write(QStringLiteral("metade"), "a\x01\x02z"), QStringLiteral("a z"), "" },
        { "mostly controls", write(QStringLiteral("controle"), "\x1b\x01\x02\x03z\n"), std::nullopt,
            "holds binary data, not a line of text" },
        { "NUL past the first line", write(QStringLiteral("nul"), QByteArray("Titulo\nx\0y", 10)),
            std::nullopt, "holds binary data, not a line of text" },
        { "empty", write(QStringLiteral("vazio"), ""), std::nullopt,
            "holds no title: its first line is empty or blank" },
        { "blanks and controls only", write(QStringLiteral("branco"), "  \t \x0c \r\nsegunda"), std::nullopt,
            "holds no title: its first line is empty or blank" },
        { "huge", write(QStringLiteral("grande"), "Grande\n" + QByteArray(zv::kLargeTitleFile, 'z')),
            QStringLiteral("Grande"), "is 1048583 bytes long; only its first line is read" },
        { "line beyond the read", write(QStringLiteral("longa"), longLine),
            QStringLiteral("a") + QString(254, u'é'), "" },
    };
    for (const auto& c : cases) {
        const zv::NowPlayingRead read = zv::ReadNowPlayingFile(c.path);
        EXPECT_EQ(read.title, c.title) << c.name;
        EXPECT_EQ(read.problem.toStdString(), c.problem) << c.name;
    }
}

namespace {

// Collects the titles a watcher hands out, on its thread.
class Titles {
public:
    void Add(const QString& title)
    {
        std::lock_guard lock(mutex_);
        titles_.push_back(title);
        changed_.notify_all();
    }
    // Waits (generously) until the last title is `title`.
    bool WaitFor(const QString& title)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return !titles_.empty() && titles_.back() == title; });
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex_);
        return titles_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<QString> titles_;
};

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

// A playout rewrites its file, replaces it, deletes it, or its folder comes and goes: every title that
// settles reaches the stream, once.
TEST(NowPlaying, WatcherFollowsTheFileThroughWhatPlayoutsDoToIt)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("playout"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/tocando.txt");
    Write(path, "Primeira\n");
    Titles titles;
    zv::NowPlayingWatcher::Options options;
    options.settle = 50ms;
    options.longest = 500ms;
    options.rewatch = 100ms;
    zv::NowPlayingWatcher watcher(
        path, [&](const QString& title) { titles.Add(title); }, options);
    ASSERT_TRUE(titles.WaitFor(QStringLiteral("Primeira")));

    Write(path, "Segunda");
    EXPECT_TRUE(titles.WaitFor(QStringLiteral("Segunda")));

    Write(path + QStringLiteral(".tmp"), "Terceira");
    ASSERT_EQ(std::rename(QFile::encodeName(path + QStringLiteral(".tmp")).constData(),
                  QFile::encodeName(path).constData()),
        0);
    EXPECT_TRUE(titles.WaitFor(QStringLiteral("Terceira")));

    // Written in bursts: the last word counts.
    for (const char* title : { "Q", "Qu", "Qua", "Quarta" }) {
        Write(path, title);
    }
    EXPECT_TRUE(titles.WaitFor(QStringLiteral("Quarta")));

    // Deleted, then back with the same title: nothing new to send. Each comes back whole (written
    // beside and renamed), so a slow run cannot catch an empty file between a truncation and its write.
    const std::size_t count = titles.Count();
    ASSERT_TRUE(QFile::remove(path));
    for (const char* title : { "Quarta", "Quinta" }) {
        Write(path + QStringLiteral(".tmp"), title);
        ASSERT_EQ(std::rename(QFile::encodeName(path + QStringLiteral(".tmp")).constData(),
                      QFile::encodeName(path).constData()),
            0);
    }
    EXPECT_TRUE(titles.WaitFor(QStringLiteral("Quinta")));
    EXPECT_EQ(titles.Count(), count + 1);

    // The whole folder goes and comes back.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder));
    Write(path, "Sexta");
    EXPECT_TRUE(titles.WaitFor(QStringLiteral("Sexta")));
}
