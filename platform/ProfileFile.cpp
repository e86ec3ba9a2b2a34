#include "platform/ProfileFile.h"

#include "platform/FileIo.h"
#include "platform/ResStrings.h"

#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

struct Line {
    qsizetype start; // first byte of the line
    qsizetype end; // one past its last byte before the line break
    qsizetype next; // first byte of the following line
};

std::vector<Line> SplitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && bytes[end] != '\n' && bytes[end] != '\r') {
            ++end;
        }
        qsizetype next = end;
        if (next < size && bytes[next] == '\r') {
            ++next;
        }
        if (next < size && bytes[next] == '\n' && (next == end || bytes[next - 1] == '\r')) {
            ++next;
        }
        lines.push_back({ start, end, next });
        start = next;
    }
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView Trimmed(QByteArrayView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && IsBlank(text[from])) {
        ++from;
    }
    while (to > from && IsBlank(text[to - 1])) {
        --to;
    }
    return text.sliced(from, to - from);
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names match without regard to ASCII case only: bytes above 127 are ANSI text of unknown code page.
bool SameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

QByteArrayView LineText(const QByteArray& bytes, const Line& line)
{
    return QByteArrayView(bytes).sliced(line.start, line.end - line.start);
}

// The name of a section header line, or nothing when the line is no header.
std::optional<QByteArrayView> SectionName(QByteArrayView text)
{
    text = Trimmed(text);
    if (text.isEmpty() || text[0] != '[') {
        return std::nullopt;
    }
    text = text.sliced(1);
    const qsizetype close = text.indexOf(']');
    return Trimmed(close < 0 ? text : text.first(close));
}

struct KeyLine {
    QByteArrayView key;
    QByteArrayView value; // raw, as stored
};

std::optional<KeyLine> ParseKeyLine(QByteArrayView text)
{
    const QByteArrayView trimmed = Trimmed(text);
    if (trimmed.isEmpty() || trimmed[0] == ';' || trimmed[0] == '[') {
        return std::nullopt;
    }
    const qsizetype eq = text.indexOf('=');
    if (eq < 0) {
        return std::nullopt;
    }
    return KeyLine { Trimmed(text.first(eq)), text.sliced(eq + 1) };
}

struct Location {
    std::optional<size_t> header; // index of the section's header line
    std::optional<size_t> key; // index of the key's line
    size_t lastContent = 0; // last non-empty line of the section (the header when none)
};

Location Find(
    const QByteArray& bytes, const std::vector<Line>& lines, QByteArrayView section, QByteArrayView key)
{
    Location where;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QByteArrayView text = LineText(bytes, lines[i]);
        if (const auto name = SectionName(text)) {
            if (inSection) {
                break; // the section ends at the next header
            }
            if (!where.header && SameName(*name, section)) {
                where.header = i;
                where.lastContent = i;
                inSection = true;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trimmed(text).isEmpty()) {
            where.lastContent = i;
        }
        if (!where.key) {
            if (const auto kv = ParseKeyLine(text); kv && SameName(kv->key, key)) {
                where.key = i;
            }
        }
    }
    return where;
}

QByteArray StoredValue(QByteArrayView value)
{
    if (value.isEmpty()) {
        return {};
    }
    const char first = value.front();
    const char last = value.back();
    const bool quote
        = IsBlank(first) || IsBlank(last) || first == '"' || first == '\'' || last == '"' || last == '\'';
    QByteArray stored;
    stored.reserve(value.size() + 2);
    if (quote) {
        stored.append('"');
    }
    stored.append(value);
    if (quote) {
        stored.append('"');
    }
    return stored;
}

[[noreturn]] void RaiseWriteError(const std::filesystem::path& path)
{
    throw EProfileWriteError(
        zv::LoadResString(zv::SUnableToWrite).arg(QString::fromStdString(path.string())));
}

bool Carriable(QByteArrayView text)
{
    return !text.contains('\0') && !text.contains('\r') && !text.contains('\n');
}

} // namespace

ProfileFile ProfileFile::Read(const std::filesystem::path& path)
{
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return ProfileFile(file.readAll());
}

ProfileFile ProfileFile::Load(const std::filesystem::path& path)
{
    const auto fail = [&](int error) {
        throw EProfileReadError(
            LoadResString(SCannotReadFile)
                .arg(QString::fromStdString(path.string()), QString::fromLocal8Bit(std::strerror(error))));
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {};
        }
        fail(errno);
    }
    QByteArray bytes;
    int error = 0;
    struct stat info { };
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
    }
    char buffer[16384];
    while (error == 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = errno;
        } else if (got == 0) {
            break;
        } else {
            bytes.append(buffer, got);
        }
    }
    ::close(fd);
    if (error != 0) {
        fail(error);
    }
    return ProfileFile(std::move(bytes));
}

std::optional<QByteArray> ProfileFile::Value(QByteArrayView section, QByteArrayView key) const
{
    const auto lines = SplitLines(bytes_);
    const Location where = Find(bytes_, lines, section, key);
    if (!where.key) {
        return std::nullopt;
    }
    QByteArrayView value = Trimmed(ParseKeyLine(LineText(bytes_, lines[*where.key]))->value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front()) {
        value = value.sliced(1, value.size() - 2);
    }
    return value.first(std::min(value.size(), MaxValueBytes)).toByteArray();
}

QByteArray ProfileFile::ReadString(
    QByteArrayView section, QByteArrayView key, const QByteArray& fallback) const
{
    return Value(section, key).value_or(fallback);
}

int ProfileFile::ReadInteger(QByteArrayView section, QByteArrayView key, int fallback) const
{
    const auto value = Value(section, key);
    if (!value) {
        return fallback;
    }
    return ParseProfileInteger(*value).value_or(fallback);
}

void ProfileFile::SetValues(QByteArrayView section, const Values& values, const std::filesystem::path& path)
{
    if (!Carriable(section) || section.contains(']')) {
        RaiseWriteError(path);
    }
    for (const auto& [key, value] : values) {
        if (!Carriable(key) || !Carriable(value) || key.contains('=') || Trimmed(key).isEmpty()
            || Trimmed(key) != QByteArrayView(key) || key.startsWith('[') || key.startsWith(';')) {
            RaiseWriteError(path);
        }
    }
    for (const auto& [key, value] : values) {
        const QByteArray entry = key + '=' + StoredValue(value);
        const auto lines = SplitLines(bytes_);
        const Location where = Find(bytes_, lines, section, key);
        if (where.key) {
            const Line& line = lines[*where.key];
            bytes_.replace(line.start, line.end - line.start, entry);
        } else if (where.header) {
            const Line& after = lines[where.lastContent];
            if (after.next == after.end) {
                // The section's last line is the file's last and has no line break yet.
                bytes_.insert(after.end, "\r\n" + entry + "\r\n");
            } else {
                bytes_.insert(after.next, entry + "\r\n");
            }
        } else {
            if (!bytes_.isEmpty() && !bytes_.endsWith('\n') && !bytes_.endsWith('\r')) {
                bytes_.append("\r\n");
            }
            bytes_.append('[').append(section.data(), section.size()).append("]\r\n");
            bytes_.append(entry).append("\r\n");
        }
    }
}

void ProfileFile::Save(const std::filesystem::path& path, unsigned newFileMode) const
{
    // A file its owner made read-only stays as it is, even where the folder would allow a rename.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        RaiseWriteError(path);
    }
    if (ReplaceFile(path, bytes_, newFileMode) != 0) {
        RaiseWriteError(path);
    }
}

void WriteProfileStrings(const std::filesystem::path& path, QByteArrayView section,
    const ProfileFile::Values& values, unsigned newFileMode)
{
    ProfileFile file = ProfileFile::Load(path);
    file.SetValues(section, values, path);
    file.Save(path, newFileMode);
}

std::optional<int> ParseProfileInteger(QByteArrayView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text = text.sliced(2);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    long long magnitude = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > 2147483648LL) {
            return std::nullopt;
        }
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

} // namespace zv
