#pragma once

// The station's account page: the request that posts the account to it, and what its answer means.
// Window-free; the browser that sends the request and reads the page lives with the settings window.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <utility>

// The header text sent with the account: one "Name: value" line, ended by CR LF.
inline constexpr const char* AccountHeaderText = "Content-type: application/x-www-form-urlencoded\r\n";

// Form encoding of bytes: letters, digits and ! $ ' ( ) * - . @ _ stay, a space becomes '+', every
// other byte '%' and two lowercase hexadecimal digits.
QByteArray FormEncode(const QByteArray& bytes);

// The stream bitrate (a Kbps value of cfg.ini) for the account's limit in kbit/s: the highest of
// 32, 64, 96 and 128 that the limit reaches, 32 below that.
QString KbpsForLimit(int limit);

// Header lines ("Name: value", CR LF or LF ended) as name and value pairs; lines without a colon are
// left out.
QList<std::pair<QByteArray, QByteArray>> ParseHeaderLines(const QByteArray& text);

// What the browser sends: an HTTP POST of the form-encoded account to the account page.
struct TAccountRequest {
    QUrl Url; // "http://info." + the network's base domain
    QByteArray Body; // "Usuario=...&Senha=...", Windows-1252 bytes form-encoded
    QList<std::pair<QByteArray, QByteArray>> Headers;
};

// The request for `usuario` with its plain `senha` on the network `servidor` (cfg.ini's Servidor).
// Characters Windows-1252 has no byte for are sent as '?'.
TAccountRequest MakeAccountRequest(const QString& servidor, const QString& usuario, const QString& senha);
