#pragma once

// The event log ZoVeva.log in the program folder, for the station's support: Windows-1252 text with
// CR LF lines, a header when the file is made, then one block per event.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <filesystem>
#include <functional>

class TEventLog {
public:
    // now gives the entry's local date and time (the current time when empty); locale gives the date
    // and time formats (the system's when not given).
    explicit TEventLog(const std::filesystem::path& programFolder, std::function<QDateTime()> now = {},
        const QLocale& locale = QLocale::system());

    std::filesystem::path Path() const { return path_; }

    // Appends one entry, with the header first when the file is new. Returns 0 when written, otherwise
    // the failing call's errno (-1 when the failure had none). I/O errors lose the entry and nothing
    // more: no message, no error raised.
    int WriteLog(const QString& description, const QString& action, const QString& process) noexcept;

    // The date in the locale's short format and the time in its long format without the time zone,
    // separated by a blank; the time is left out when it is exactly midnight. Blanks the log's code
    // page lacks (a narrow no-break space before "AM") are plain spaces, here and in every entry.
    static QString DateTimeText(const QDateTime& when, const QLocale& locale);

private:
    std::filesystem::path path_;
    std::function<QDateTime()> now_;
    QLocale locale_;
};
