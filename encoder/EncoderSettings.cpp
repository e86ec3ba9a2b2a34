#include "encoder/EncoderSettings.h"

#include "encoder/EncoderShared.h"
#include "encoder/EncoderStrings.h"
#include "platform/ResStrings.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <array>
#include <optional>

namespace zv {

namespace {

constexpr qint64 kMaxFileSize = shared::kMaxEncodingFileBytes;

// Names of the template's Broadcast attributes that carry what the client never patches.
const QString kPortAttr = QStringLiteral("PublishPort");
const QString kUserAttr = QStringLiteral("SourceUser");
const QString kPasswordAttr = QStringLiteral("SourcePassword");

[[noreturn]] void Fail(const QString& origin, const QString& problem)
{
    throw EEncodingFileError(QStringLiteral("Encoding file \"%1\": %2").arg(origin, problem));
}

// Digits only, no sign, no blanks: what a port or a profile number is written as.
std::optional<int> StrictNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool HasControlCharacters(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return true;
        }
    }
    return false;
}

// The name, genre and description travel in HTTP headers: line breaks there would forge headers.
QString CleanHeaderText(const QString& title)
{
    QString clean;
    for (QChar c : title) {
        clean += (c.unicode() < 0x20 || c.unicode() == 0x7f) ? QChar(u' ') : c;
    }
    return clean.simplified().left(200);
}

QDomElement RequireChild(
    const QDomElement& parent, const QString& name, const QString& path, const QString& origin)
{
    const QDomElement child = parent.firstChildElement(name);
    if (child.isNull()) {
        Fail(origin, QStringLiteral("the element %1 is missing").arg(path));
    }
    return child;
}

// Value of `name="value"` in the profile text; the name must not be the tail of a longer name.
std::optional<QString> ProfileAttribute(const QString& profile, const QString& name)
{
    const QRegularExpression re(
        QStringLiteral("(?<![A-Za-z0-9_:])%1\\s*=\\s*\"([^\"]*)\"").arg(QRegularExpression::escape(name)),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(profile);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return match.captured(1);
}

// The profile is the first text-like node, two levels below the document element, that names a bitrate.
std::optional<QString> FindProfile(const QDomElement& root)
{
    const QDomNodeList children = root.childNodes();
    for (int i = 0; i < children.count(); ++i) {
        const QDomNodeList grandChildren = children.item(i).childNodes();
        for (int j = 0; j < grandChildren.count(); ++j) {
            const QDomNode node = grandChildren.item(j);
            if (!node.nodeName().startsWith(u'#')) {
                continue;
            }
            const QString text = node.nodeValue();
            if (ProfileAttribute(text, QStringLiteral("bitrate"))) {
                return text;
            }
        }
    }
    return std::nullopt;
}

bool ValidHostName(const QString& host)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_.-]*[A-Za-z0-9_.])?$"));
    return host.size() <= 253 && name.match(host).hasMatch();
}

bool ValidIPv6Literal(const QString& host)
{
    static const QRegularExpression literal(QStringLiteral("^[0-9A-Fa-f:.]+(%[A-Za-z0-9_.-]+)?$"));
    return host.contains(u':') && host.size() <= 64 && literal.match(host).hasMatch();
}

quint16 ParsePort(const QString& text, const QString& where, const QString& origin)
{
    const auto port = StrictNumber(text);
    if (!port || *port < 1 || *port > 65535) {
        Fail(origin,
            QStringLiteral("invalid port \"%1\" in %2 (expected a number from 1 to 65535)")
                .arg(text.left(40), where));
    }
    return static_cast<quint16>(*port);
}

// "host", "host:port", "[v6]" or "[v6]:port".
void ParsePublishServer(const QString& value, EncoderSettings& settings, const QString& origin)
{
    const QString where = QStringLiteral("Broadcast/@PublishServer \"%1\"").arg(value.left(80));
    QString host;
    std::optional<QString> port;
    if (value.startsWith(u'[')) {
        const auto close = value.indexOf(u']');
        if (close < 0) {
            Fail(origin, QStringLiteral("unclosed \"[\" in %1").arg(where));
        }
        host = value.mid(1, close - 1);
        const QString rest = value.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':')) {
                Fail(origin, QStringLiteral("unexpected text after \"]\" in %1").arg(where));
            }
            port = rest.mid(1);
        }
        if (!ValidIPv6Literal(host)) {
            Fail(origin, QStringLiteral("invalid address in %1").arg(where));
        }
    } else if (value.count(u':') == 1) {
        const auto colon = value.indexOf(u':');
        host = value.left(colon);
        port = value.mid(colon + 1);
    } else {
        host = value;
    }
    if (host.isEmpty()) {
        Fail(origin, QStringLiteral("no host name in %1").arg(where));
    }
    if (!value.startsWith(u'[') && !ValidHostName(host) && !ValidIPv6Literal(host)) {
        Fail(origin, QStringLiteral("invalid host name in %1").arg(where));
    }
    settings.host = host;
    if (port) {
        settings.port = ParsePort(*port, where, origin);
    }
}

QString KnownBitrates()
{
    QStringList codes;
    for (const shared::BitrateRow& row : shared::kBitrateRows) {
        codes += QString::fromLatin1(row.Kbps);
    }
    const QString last = codes.takeLast();
    return codes.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool BitrateFitsSampleRate(int kbps, int sampleRate)
{
    // MPEG 2.5 (8 to 12 kHz) stops at 64 kbit/s; MPEG 1 and 2 carry every bitrate we use.
    return sampleRate > 12000 || kbps <= 64;
}

// A file named by an attribute: any path, as long as it is one.
QString ParseFileName(const QDomElement& element, const QString& name, const QString& origin)
{
    QString value = element.attribute(name).trimmed();
    if (HasControlCharacters(value) || value.size() > 4096) {
        Fail(origin, QStringLiteral("Broadcast/@%1 is not a usable file name").arg(name));
    }
    return value;
}

// A whole number within bounds, or the default when the attribute is absent or empty.
int BoundedNumber(
    const QDomElement& element, const QString& name, int fallback, int most, const QString& origin)
{
    const QString text = element.attribute(name).trimmed();
    if (text.isEmpty()) {
        return fallback;
    }
    const auto number = StrictNumber(text);
    if (!number || *number > most) {
        Fail(origin,
            QStringLiteral("invalid value \"%1\" in Broadcast/@%2 (expected a number from 0 to %3)")
                .arg(text.left(40), name)
                .arg(most));
    }
    return *number;
}

// The recording of what goes on the air, which the client writes from its own settings.
void ParseRecording(const QDomElement& broadcast, RecordingSettings& recording, const QString& origin)
{
    const QString on = broadcast.attribute(QStringLiteral("Recording")).trimmed();
    if (on.isEmpty() || on == u'0') {
        recording.enabled = false;
    } else if (on == u'1') {
        recording.enabled = true;
    } else {
        Fail(origin,
            QStringLiteral("unknown value \"%1\" in Broadcast/@Recording (expected 0 or 1)")
                .arg(on.left(40)));
    }
    recording.folder = ParseFileName(broadcast, QStringLiteral("RecordingFolder"), origin);
    if (recording.folder.isEmpty()) {
        recording.folder = QStringLiteral("Gravacoes");
    }
    recording.days = BoundedNumber(broadcast, QStringLiteral("RecordingDays"), recording.days, 36500, origin);
    recording.minFreeBytes = std::int64_t(BoundedNumber(broadcast, QStringLiteral("RecordingMinFreeMB"),
                                 static_cast<int>(recording.minFreeBytes >> 20), 16 * 1024 * 1024, origin))
        << 20;
}

// What the network may switch on in the template: TLS to the server, and the titles of a playout.
void ParseOptionalFeatures(const QDomElement& broadcast, EncoderSettings& settings, const QString& origin)
{
    const QString tls = broadcast.attribute(QStringLiteral("Tls")).trimmed();
    if (tls.isEmpty() || tls == u'0') {
        settings.tls = EncoderSettings::Tls::Off;
    } else if (tls == u'1') {
        settings.tls = EncoderSettings::Tls::Verified;
    } else {
        Fail(origin,
            QStringLiteral("unknown value \"%1\" in Broadcast/@Tls (expected 0, no TLS, or 1, TLS with the "
                           "server's certificate verified)")
                .arg(tls.left(40)));
    }
    settings.tlsCaFile = ParseFileName(broadcast, QStringLiteral("TlsCaFile"), origin);
    settings.nowPlayingFile = ParseFileName(broadcast, QStringLiteral("NowPlayingFile"), origin);
    ParseRecording(broadcast, settings.recording, origin);
}

// A relative name in an encoding file means a file beside it.
QString BesideFile(const QString& name, const QString& file)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name)) {
        return name;
    }
    return QDir::cleanPath(QFileInfo(file).absoluteDir().filePath(name));
}

} // namespace

int KbpsForBitrateCode(int bitrateCode)
{
    const shared::BitrateRow* row = shared::BitrateRowForCode(bitrateCode);
    return row ? row->Mp3Kbps : 0;
}

EncoderSettings ReadEncodingFile(const QString& path)
{
    // A pipe would hold the open until a writer comes, and a device such as /dev/zero never ends.
    if (const QFileInfo info(path); info.exists() && !info.isFile()) {
        Fail(path, QStringLiteral("is not a regular file"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(path, QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    }
    if (file.size() > kMaxFileSize) {
        Fail(path, QStringLiteral("is too large to be an encoding file (%1 bytes)").arg(file.size()));
    }
    EncoderSettings settings = ParseEncodingFile(file.readAll(), path);
    settings.tlsCaFile = BesideFile(settings.tlsCaFile, path);
    settings.nowPlayingFile = BesideFile(settings.nowPlayingFile, path);
    settings.recording.folder = BesideFile(settings.recording.folder, path);
    return settings;
}

EncoderSettings ParseEncodingFile(const QByteArray& content, const QString& origin)
{
    if (content.size() > kMaxFileSize) {
        Fail(origin, QStringLiteral("is too large to be an encoding file (%1 bytes)").arg(content.size()));
    }
    QDomDocument document;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    // The bytes, not a string: the parser takes the encoding from the XML declaration.
    const QDomDocument::ParseResult parsed = document.setContent(content);
    const bool wellFormed = static_cast<bool>(parsed);
    const qsizetype line = parsed.errorLine;
    const qsizetype column = parsed.errorColumn;
    const QString& error = parsed.errorMessage;
#else
    QString error;
    int line = 0;
    int column = 0;
    const bool wellFormed = document.setContent(content, &error, &line, &column);
#endif
    if (!wellFormed) {
        Fail(origin,
            QStringLiteral("is not well-formed XML (line %1, column %2: %3)")
                .arg(line)
                .arg(column)
                .arg(error));
    }
    const QDomElement root = document.documentElement();
    if (root.isNull()) {
        Fail(origin, QStringLiteral("has no document element"));
    }

    EncoderSettings settings;

    const QDomElement description
        = RequireChild(root, QStringLiteral("Description"), QStringLiteral("Description"), origin);
    settings.title = CleanHeaderText(description.attribute(QStringLiteral("Title")));
    settings.description = CleanHeaderText(description.attribute(QStringLiteral("Description")));

    const QDomElement groups
        = RequireChild(root, QStringLiteral("SourceGroups"), QStringLiteral("SourceGroups"), origin);
    const QDomElement group = RequireChild(
        groups, QStringLiteral("SourceGroup"), QStringLiteral("SourceGroups/SourceGroup"), origin);
    const QDomElement source = RequireChild(
        group, QStringLiteral("Source"), QStringLiteral("SourceGroups/SourceGroup/Source"), origin);
    settings.inputSource = source.attribute(QStringLiteral("InputSource")).trimmed();
    if (settings.inputSource.isEmpty()) {
        Fail(origin, QStringLiteral("no input device in SourceGroups/SourceGroup/Source/@InputSource"));
    }

    const QDomElement broadcast
        = RequireChild(root, QStringLiteral("Broadcast"), QStringLiteral("Broadcast"), origin);
    ParseOptionalFeatures(broadcast, settings, origin);
    settings.genre = CleanHeaderText(broadcast.attribute(QStringLiteral("Genre")));
    const QString charset = broadcast.attribute(QStringLiteral("MetadataCharset")).trimmed();
    if (charset.isEmpty() || charset.compare(QStringLiteral("ISO-8859-1"), Qt::CaseInsensitive) == 0) {
        settings.metadataCharset = EncoderSettings::MetadataCharset::Latin1;
    } else if (charset.compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) == 0) {
        settings.metadataCharset = EncoderSettings::MetadataCharset::Utf8;
    } else {
        Fail(origin, LoadResString(SUnknownMetadataCharset).arg(charset.left(40)));
    }
    const QString templatePort = broadcast.attribute(kPortAttr).trimmed();
    if (!templatePort.isEmpty()) {
        settings.port = ParsePort(templatePort, QStringLiteral("Broadcast/@%1").arg(kPortAttr), origin);
    }
    const QString server = broadcast.attribute(QStringLiteral("PublishServer")).trimmed();
    if (server.isEmpty()) {
        Fail(origin, QStringLiteral("no publish server in Broadcast/@PublishServer"));
    }
    ParsePublishServer(server, settings, origin);

    QString point = broadcast.attribute(QStringLiteral("PublishingPoint")).trimmed();
    while (point.startsWith(u'/')) {
        point.remove(0, 1);
    }
    if (point.isEmpty()) {
        Fail(origin, QStringLiteral("the publishing point (Broadcast/@PublishingPoint) is empty"));
    }
    if (HasControlCharacters(point) || point.size() > 200) {
        Fail(
            origin, QStringLiteral("the publishing point (Broadcast/@PublishingPoint) is not a usable name"));
    }
    settings.mount = u'/' + point;

    const QString user = broadcast.attribute(kUserAttr).trimmed();
    if (!user.isEmpty()) {
        settings.sourceUser = user;
    }
    settings.sourcePassword = broadcast.attribute(kPasswordAttr);
    if (settings.sourcePassword.isEmpty()) {
        Fail(origin, QStringLiteral("no source password in Broadcast/@%1").arg(kPasswordAttr));
    }
    if (HasControlCharacters(settings.sourceUser) || HasControlCharacters(settings.sourcePassword)
        || settings.sourceUser.size() > 200 || settings.sourcePassword.size() > 200) {
        Fail(origin, QStringLiteral("the source credentials in Broadcast are not usable"));
    }

    const auto profile = FindProfile(root);
    if (!profile) {
        Fail(origin,
            QStringLiteral(
                "has no audio profile (no text with a bitrate attribute below the document element)"));
    }
    const QString bitrateText = ProfileAttribute(*profile, QStringLiteral("bitrate")).value_or(QString());
    const auto bitrate = StrictNumber(bitrateText);
    settings.kbps = bitrate ? KbpsForBitrateCode(*bitrate) : 0;
    if (settings.kbps == 0) {
        Fail(origin,
            QStringLiteral("unknown bitrate \"%1\" in the audio profile (expected %2)")
                .arg(bitrateText.left(40), KnownBitrates()));
    }
    settings.bitrateCode = *bitrate;

    const auto rateText = ProfileAttribute(*profile, QStringLiteral("nSamplesPerSec"));
    if (!rateText) {
        Fail(origin, QStringLiteral("the audio profile has no nSamplesPerSec"));
    }
    static constexpr std::array kRates { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 };
    const auto rate = StrictNumber(*rateText);
    if (!rate || std::find(kRates.begin(), kRates.end(), *rate) == kRates.end()) {
        Fail(origin,
            QStringLiteral("unsupported sample rate \"%1\" in the audio profile (MP3 takes 8000 to 48000 Hz)")
                .arg(rateText->left(40)));
    }
    if (!BitrateFitsSampleRate(settings.kbps, *rate)) {
        Fail(origin, QStringLiteral("%1 kbit/s cannot be encoded at %2 Hz").arg(settings.kbps).arg(*rate));
    }
    settings.sampleRate = *rate;

    auto channelsText = ProfileAttribute(*profile, QStringLiteral("nChannels"));
    if (!channelsText) {
        channelsText = ProfileAttribute(*profile, QStringLiteral("channels"));
    }
    if (channelsText) {
        const auto channels = StrictNumber(*channelsText);
        if (!channels || (*channels != 1 && *channels != 2)) {
            Fail(origin,
                QStringLiteral("unsupported channel count \"%1\" in the audio profile")
                    .arg(channelsText->left(40)));
        }
        settings.channels = *channels;
    }
    return settings;
}

} // namespace zv
