#pragma once

// What the client and the account page's helper (zoveva-account) say to each other through the
// helper's standard input and output: one JSON object a line. The client writes the request the
// helper loads; the helper answers with the limit of every page it completes and, when it shows the
// page, the window that holds it. Qt Core only: both sides share it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>
#include <utility>

namespace zv::account {

// File name of the helper's executable, beside the program's.
inline constexpr const char* HelperExecutableName = "zoveva-account";

// The HTTP POST the helper loads.
struct Request {
    QUrl Url;
    QByteArray Body;
    QList<std::pair<QByteArray, QByteArray>> Headers;
};

// The request as one line, newline included.
QByteArray EncodeRequest(const Request& request);
// A line of EncodeRequest; nothing for any other text.
std::optional<Request> DecodeRequest(const QByteArray& line);

// One line of the helper's answer.
struct Report {
    enum class Kind { Garbage, Limit, Window };
    Kind What = Kind::Garbage;
    std::optional<QString> Limit; // Kind::Limit: the value's text, nothing without element or value
    quint64 Window = 0; // Kind::Window: the native window showing the page
};

QByteArray LimitLine(const std::optional<QString>& limit);
QByteArray WindowLine(quint64 window);
// A line of LimitLine or WindowLine (its newline may be there or not); Garbage for anything else.
Report ParseReport(const QByteArray& line);

// The script that reads the limit: the value of the element "limitekbps" as text, null when there
// is no such element or value.
QString LimitScript();

} // namespace zv::account
