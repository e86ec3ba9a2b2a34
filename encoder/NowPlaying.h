#pragma once

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace zv {

// The song on the air, as a station's playout software writes it to a text file: the first line.

// The longest title sent to the server, in characters.
inline constexpr int kMaxTitleLength = 255;
// How much of the file is read; its first line lies within it.
inline constexpr qsizetype kTitleReadBytes = 4096;
// A file beyond this is no title file; its first line is still taken, and the log says so.
inline constexpr qint64 kLargeTitleFile = 1024 * 1024;

// The title held by the first bytes of a now-playing file: the first line, decoded as UTF-8 (a byte
// order mark dropped), or as Windows-1252 when it is not valid UTF-8; control characters become
// blanks, runs of blanks one, and it is cut at kMaxTitleLength characters. `cut`: the bytes stop
// short of the file's end, so the line may go on beyond them.
QString TitleFromBytes(QByteArrayView bytes, bool cut);

struct NowPlayingRead {
    std::optional<QString> title; // none when the file holds no title we can use
    QString problem; // why not, or what is odd about the file the title came from
};

// Reads the title of a now-playing file: at most kTitleReadBytes of it, never waiting on what is no
// regular file (a pipe, a device). A file with a NUL byte or a first line mostly of control bytes is
// binary; an empty or blank first line is no title either.
NowPlayingRead ReadNowPlayingFile(const QString& path);

// Watches a now-playing file (through its folder, so a file that is deleted, or replaced by a rename,
// is seen again when it comes back) and hands every new title to the callback, once the file has been
// quiet for `settle` (and at most `longest` after the first change), on a thread of its own. The first
// title is read at once. What goes wrong with the file is logged once per kind, and leaves the last
// title as it was.
class NowPlayingWatcher {
public:
    using TitleCallback = std::function<void(const QString& title)>;

    struct Options {
        std::chrono::milliseconds settle { 500 };
        std::chrono::milliseconds longest { 2000 };
        // How often a folder that cannot be watched (it does not exist yet) is tried again.
        std::chrono::milliseconds rewatch { 5000 };
    };

    NowPlayingWatcher(QString path, TitleCallback callback);
    NowPlayingWatcher(QString path, TitleCallback callback, Options options);
    // Stops the thread and waits for it.
    ~NowPlayingWatcher();
    NowPlayingWatcher(const NowPlayingWatcher&) = delete;
    NowPlayingWatcher& operator=(const NowPlayingWatcher&) = delete;

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    bool Watch(Clock::time_point now);
    void Read();
    void Report(const QString& problem);

    QString path_;
    QString folder_;
    QByteArray name_; // the file's name in its folder, as the kernel reports it
    TitleCallback callback_;
    Options options_;
    int inotify_ = -1;
    int wake_ = -1; // eventfd: the destructor's stop
    int watch_ = -1;
    std::optional<QString> title_; // the last title handed out
    QString problem_; // the last problem logged
    std::thread thread_;
};

} // namespace zv
