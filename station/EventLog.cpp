#include "station/EventLog.h"

#include "platform/Ansi.h"
#include "platform/FileIo.h"
#include "station/StationVersion.h"

#include <QRegularExpression>

namespace {

// The publisher's contact details that head the log.
constexpr const char* kWebAddress = "http://www.varekradio.net.br";
constexpr const char* kPhoneAndMail = "Fone: (47) 3030-4700 - E-mail: suporte@varekradio.net.br";
constexpr const char* kStreetAddress = "Rua das Antenas, 1250 - Sala 3 - Centro";
constexpr const char* kPostalCity = "CEP 89010-100 - Blumenau - SC";

QString Field(const QString& label, const QString& value)
{
    QString line = label;
    while (line.size() < 21) {
        line += QLatin1Char('.');
    }
    return line + QStringLiteral(": ") + value + QStringLiteral("\r\n");
}

// The log's code page has one blank besides the space, the no-break space. Other blanks (the narrow
// no-break space some locales put before "AM", thin and figure spaces) would turn into "?": they
// become plain spaces.
QString PlainBlanks(QString text)
{
    for (QChar& c : text) {
        if (c.category() == QChar::Separator_Space && c != QChar::Nbsp) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

} // namespace

TEventLog::TEventLog(
    const std::filesystem::path& programFolder, std::function<QDateTime()> now, const QLocale& locale)
    : path_(programFolder / "ZoVeva.log")
    , now_(std::move(now))
    , locale_(locale)
{
}

QString TEventLog::DateTimeText(const QDateTime& when, const QLocale& locale)
{
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0)) {
        // Qt's long time format names the time zone ("t"); the log shows the wall clock only.
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        const QString format
            = locale.timeFormat(QLocale::LongFormat).replace(zone, QStringLiteral(" ")).trimmed();
        text += QLatin1Char(' ') + locale.toString(when.time(), format);
    }
    return PlainBlanks(text);
}

int TEventLog::WriteLog(const QString& description, const QString& action, const QString& process) noexcept
{
    try {
        std::error_code ec;
        const bool existed = std::filesystem::exists(path_, ec);
        QString text;
        if (existed) {
            text += QString(62, QLatin1Char('-')) + QStringLiteral("\r\n\r\n");
        } else {
            text += QString::fromLatin1(kWebAddress) + QStringLiteral(" - ") + ApplicationTitle()
                + QStringLiteral("\r\n");
            text += QString::fromUtf8(kPhoneAndMail) + QStringLiteral("\r\n");
            text += QString::fromUtf8(kStreetAddress) + QStringLiteral("\r\n");
            text += QString::fromUtf8(kPostalCity) + QStringLiteral("\r\n");
            text += QString(62, QLatin1Char('=')) + QStringLiteral("\r\n\r\n");
        }
        const QDateTime when = now_ ? now_() : QDateTime::currentDateTime();
        text += Field(QStringLiteral("Data/Hora"), DateTimeText(when, locale_));
        text += Field(QStringLiteral("A\u00e7\u00e3o"), action);
        text += Field(QStringLiteral("Descri\u00e7\u00e3o"), description);
        text += Field(QStringLiteral("Processo"), process);
        text += QStringLiteral("\r\n");

        return zv::AppendToFile(path_, zv::ToAnsi(PlainBlanks(text)), !existed);
    } catch (...) {
        return -1;
    }
}
