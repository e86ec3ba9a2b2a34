#include "account/AccountHelperProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zv::account {

namespace {

QByteArray Line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QByteArray EncodeRequest(const Request& request)
{
    QJsonArray headers;
    for (const auto& [name, value] : request.Headers) {
        // Header bytes are Latin-1 on the wire; the round trip through text keeps every byte.
        headers.append(QJsonArray { QString::fromLatin1(name), QString::fromLatin1(value) });
    }
    return Line(QJsonObject {
        { QStringLiteral("url"), QString::fromUtf8(request.Url.toEncoded()) },
        { QStringLiteral("body"), QString::fromLatin1(request.Body.toBase64()) },
        { QStringLiteral("headers"), headers },
    });
}

std::optional<Request> DecodeRequest(const QByteArray& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed());
    const QJsonObject object = document.object();
    const QJsonValue url = object.value(QStringLiteral("url"));
    const QJsonValue body = object.value(QStringLiteral("body"));
    const QJsonValue headers = object.value(QStringLiteral("headers"));
    if (!document.isObject() || !url.isString() || !body.isString() || !headers.isArray()) {
        return std::nullopt;
    }
    Request request;
    request.Url = QUrl::fromEncoded(url.toString().toUtf8(), QUrl::StrictMode);
    const auto decoded
        = QByteArray::fromBase64Encoding(body.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!request.Url.isValid() || !decoded) {
        return std::nullopt;
    }
    request.Body = *decoded;
    for (const auto& header : headers.toArray()) {
        const QJsonArray pair = header.toArray();
        if (pair.size() != 2 || !pair[0].isString() || !pair[1].isString()) {
            return std::nullopt;
        }
        request.Headers.append({ pair[0].toString().toLatin1(), pair[1].toString().toLatin1() });
    }
    return request;
}

QByteArray LimitLine(const std::optional<QString>& limit)
{
    return Line(QJsonObject { { QStringLiteral("limit"), limit ? QJsonValue(*limit) : QJsonValue() } });
}

QByteArray WindowLine(quint64 window)
{
    // As text: a JSON number is a double, and a window id must come back exactly.
    return Line(QJsonObject { { QStringLiteral("window"), QString::number(window) } });
}

Report ParseReport(const QByteArray& line)
{
    Report report;
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed());
    if (!document.isObject()) {
        return report;
    }
    const QJsonObject object = document.object();
    if (object.size() != 1) {
        return report;
    }
    if (const QJsonValue limit = object.value(QStringLiteral("limit")); limit.isString() || limit.isNull()) {
        report.What = Report::Kind::Limit;
        if (limit.isString()) {
            report.Limit = limit.toString();
        }
        return report;
    }
    if (const QJsonValue window = object.value(QStringLiteral("window")); window.isString()) {
        bool ok = false;
        report.Window = window.toString().toULongLong(&ok);
        if (ok && report.Window != 0) {
            report.What = Report::Kind::Window;
        }
    }
    return report;
}

QString LimitScript()
{
    return QStringLiteral("(function () {"
                          "  try {"
                          "    var e = document.getElementById('limitekbps');"
                          "    if (!e) return null;"
                          "    var v = e.value;"
                          "    return (v === undefined || v === null) ? null : String(v);"
                          "  } catch (x) { return null; }"
                          "})()");
}

} // namespace zv::account
