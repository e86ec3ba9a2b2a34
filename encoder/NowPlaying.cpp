#include "encoder/NowPlaying.h"

#include "encoder/EncoderLog.h"
#include "platform/Ansi.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

// Drops a multi-byte UTF-8 sequence that the read cut in two.
QByteArrayView WithoutCutSequence(QByteArrayView line)
{
    const qsizetype size = line.size();
    for (qsizetype i = size - 1; i >= 0 && i >= size - 4; --i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if ((byte & 0xC0) == 0x80) {
            continue; // continuation byte: look further back for its lead
        }
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return size - i < length ? line.first(i) : line;
    }
    return line;
}

bool Blank(char32_t c)
{
    // C0 and C1 controls and DEL, the line and paragraph separators, and the non-characters of the
    // last two code points: nothing a title shows.
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029 || c == 0xfffe || c == 0xffff;
}

// A NUL byte, or a first line mostly of control bytes: no playout writes that. A few controls in a
// title (an escape, a form feed) are a playout's slip, and become blanks.
bool LooksBinary(QByteArrayView bytes, QByteArrayView line)
{
    if (bytes.contains('\0')) {
        return true;
    }
    const auto controls = std::count_if(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t';
    });
    return controls * 2 > line.size();
}

QByteArrayView WithoutByteOrderMark(QByteArrayView bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
}

QByteArrayView FirstLine(QByteArrayView bytes)
{
    const auto end = std::find_if(bytes.begin(), bytes.end(), [](char c) { return c == '\n' || c == '\r'; });
    return bytes.first(end - bytes.begin());
}

} // namespace

QString TitleFromBytes(QByteArrayView bytes, bool cut)
{
    bytes = WithoutByteOrderMark(bytes);
    QByteArrayView line = FirstLine(bytes);
    if (cut && line.size() == bytes.size()) {
        line = WithoutCutSequence(line);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(line);
    if (utf8.hasError()) {
        text = FromAnsi(line.toByteArray());
    }
    QString spaced;
    spaced.reserve(text.size());
    for (const char32_t c : QStringView(text).toUcs4()) {
        if (Blank(c)) {
            spaced += u' ';
        } else {
            spaced += QString::fromUcs4(&c, 1);
        }
    }
    spaced = spaced.simplified();
    // Cut between characters, never inside a surrogate pair.
    qsizetype end = 0;
    for (int characters = 0; end < spaced.size() && characters < kMaxTitleLength; ++characters) {
        end += spaced[end].isHighSurrogate() && end + 1 < spaced.size() ? 2 : 1;
    }
    return spaced.left(end).trimmed();
}

NowPlayingRead ReadNowPlayingFile(const QString& path)
{
    NowPlayingRead read;
    // O_NONBLOCK: a pipe under the name would otherwise hold us until someone writes to it.
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        read.problem = errno == ENOENT
            ? QStringLiteral("is not there")
            : QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return read;
    }
    struct stat info { };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        read.problem = QStringLiteral("is not a regular file");
        return read;
    }
    char buffer[kTitleReadBytes];
    qsizetype got = 0;
    while (got < kTitleReadBytes) {
        const ssize_t n = ::read(fd, buffer + got, static_cast<std::size_t>(kTitleReadBytes - got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            read.problem
                = QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            close(fd);
            return read;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    close(fd);
    const QByteArrayView bytes(buffer, got);
    if (LooksBinary(bytes, FirstLine(WithoutByteOrderMark(bytes)))) {
        read.problem = QStringLiteral("holds binary data, not a line of text");
        return read;
    }
    const QString title = TitleFromBytes(bytes, got < info.st_size);
    if (title.isEmpty()) {
        // An emptied file is a playout between two writes, or one that has nothing to say: neither
        // takes the title off the air.
        read.problem = QStringLiteral("holds no title: its first line is empty or blank");
        return read;
    }
    read.title = title;
    if (info.st_size > kLargeTitleFile) {
        read.problem = QStringLiteral("is %1 bytes long; only its first line is read").arg(info.st_size);
    }
    return read;
}

NowPlayingWatcher::NowPlayingWatcher(QString path, TitleCallback callback)
    : NowPlayingWatcher(std::move(path), std::move(callback), Options {})
{
}

NowPlayingWatcher::NowPlayingWatcher(QString path, TitleCallback callback, Options options)
    : path_(std::move(path))
    , callback_(std::move(callback))
    , options_(options)
{
    const QFileInfo info(path_);
    folder_ = info.absolutePath();
    name_ = QFile::encodeName(info.fileName());
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify_ < 0 || wake_ < 0) {
        EncoderLog(QStringLiteral("The now-playing file \"%1\" cannot be watched (%2); no titles are sent")
                       .arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    thread_ = std::thread(&NowPlayingWatcher::Run, this);
}

NowPlayingWatcher::~NowPlayingWatcher()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
        thread_.join();
    }
    for (const int fd : { inotify_, wake_ }) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void NowPlayingWatcher::Report(const QString& problem)
{
    if (problem == problem_) {
        return;
    }
    problem_ = problem;
    if (!problem.isEmpty()) {
        EncoderLog(QStringLiteral("The now-playing file \"%1\" %2").arg(path_, problem));
    }
}

bool NowPlayingWatcher::Watch(Clock::time_point)
{
    constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM
        | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    watch_ = inotify_add_watch(inotify_, QFile::encodeName(folder_).constData(), kEvents);
    if (watch_ < 0) {
        Report(QStringLiteral("cannot be watched: its folder \"%1\" is not usable (%2); trying again")
                   .arg(folder_, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    return true;
}

void NowPlayingWatcher::Read()
{
    const NowPlayingRead read = ReadNowPlayingFile(path_);
    if (!read.title) {
        Report(read.problem + (title_ ? QStringLiteral("; the title on the air stays") : QString()));
        return;
    }
    Report(read.problem);
    if (title_ != read.title) {
        title_ = read.title;
        callback_(*read.title);
    }
}

void NowPlayingWatcher::Run()
{
    constexpr Clock::time_point kNever = Clock::time_point::max();
    auto now = Clock::now();
    Clock::time_point due = now; // the first read, at once
    Clock::time_point firstChange = now;
    Clock::time_point rewatch = Watch(now) ? kNever : now + options_.rewatch;
    const auto changed = [&](Clock::time_point at) {
        if (due == kNever) {
            firstChange = at;
        }
        due = std::min(at + options_.settle, firstChange + options_.longest);
    };
    for (;;) {
        now = Clock::now();
        const Clock::time_point wakeAt = std::min(due, rewatch);
        const int timeout = wakeAt == kNever
            ? -1
            : static_cast<int>(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count(), 0, 60000));
        pollfd fds[2] = { { inotify_, POLLIN, 0 }, { wake_, POLLIN, 0 } };
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        now = Clock::now();
        if ((fds[0].revents & POLLIN) != 0) {
            alignas(inotify_event) char buffer[16 * 1024];
            ssize_t got = 0;
            while ((got = read(inotify_, buffer, sizeof buffer)) > 0) {
                for (ssize_t at = 0; at < got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    if ((event->mask & IN_Q_OVERFLOW) != 0) {
                        changed(now);
                    } else if (event->wd != watch_) {
                        continue;
                    } else if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                        // The folder itself went away or moved: watch its name again.
                        inotify_rm_watch(inotify_, watch_);
                        watch_ = -1;
                        rewatch = now;
                        changed(now);
                    } else if (event->len > 0 && std::strcmp(event->name, name_.constData()) == 0) {
                        changed(now);
                    }
                }
            }
        }
        if (now >= rewatch) {
            rewatch = kNever;
            if (Watch(now)) {
                changed(now); // the file may have come with its folder
            } else {
                rewatch = now + options_.rewatch;
            }
        }
        if (now >= due) {
            due = kNever;
            Read();
        }
    }
}

} // namespace zv
