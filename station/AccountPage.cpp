#include "station/AccountPage.h"

#include "encoder/EncoderShared.h"
#include "platform/Ansi.h"

namespace {

bool KeptAsIs(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '@':
    case '_':
        return true;
    default:
        return false;
    }
}

} // namespace

QByteArray FormEncode(const QByteArray& bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (KeptAsIs(c)) {
            out.append(byte);
        } else if (c == ' ') {
            out.append('+');
        } else {
            out.append('%');
            out.append(kHex[c >> 4]);
            out.append(kHex[c & 0x0F]);
        }
    }
    return out;
}

QString KbpsForLimit(int limit)
{
    const zv::shared::BitrateRow* chosen = &zv::shared::kBitrateRows.front();
    for (const zv::shared::BitrateRow& row : zv::shared::kBitrateRows) {
        if (limit >= row.Mp3Kbps) {
            chosen = &row;
        }
    }
    return QString::fromLatin1(chosen->Kbps);
}

QList<std::pair<QByteArray, QByteArray>> ParseHeaderLines(const QByteArray& text)
{
    QList<std::pair<QByteArray, QByteArray>> headers;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            continue;
        }
        headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    return headers;
}

TAccountRequest MakeAccountRequest(const QString& servidor, const QString& usuario, const QString& senha)
{
    TAccountRequest request;
    request.Url = QUrl(QStringLiteral("http://info.") + servidor);
    request.Body = "Usuario=" + FormEncode(zv::ToAnsi(usuario)) + "&Senha=" + FormEncode(zv::ToAnsi(senha));
    request.Headers = ParseHeaderLines(AccountHeaderText);
    return request;
}
