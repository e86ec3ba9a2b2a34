#include "station/EncodingFile.h"

#include "platform/FileIo.h"
#include "platform/ResStrings.h"
#include "station/StationStrings.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>

const TBitrateRow* BitrateRowFor(QStringView kbps)
{
    for (const TBitrateRow& row : BitrateRows) {
        if (kbps == QLatin1StringView(row.Kbps)) {
            return &row;
        }
    }
    return nullptr;
}

namespace {

constexpr qint64 kMaxBytes = zv::shared::kMaxEncodingFileBytes;

QString TooLarge(const QString& path, qint64 size)
{
    // One arg call: a path holding "%1" must not take the next argument's place.
    return zv::LoadResString(zv::SEncodingFileTooLarge)
        .arg(path, QString::number(size), QStringLiteral("%1 bytes").arg(kMaxBytes));
}

// Parses as the encoder does; the parser's complaint, or nothing for a well-formed document.
std::optional<QString> ParseError(const QByteArray& bytes, QDomDocument& document)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    // The bytes, not a string: the parser takes the encoding from the XML declaration.
    const QDomDocument::ParseResult result = document.setContent(bytes);
    if (result) {
        return std::nullopt;
    }
    const qsizetype line = result.errorLine;
    const qsizetype column = result.errorColumn;
    const QString& message = result.errorMessage;
#else
    QString message;
    int line = 0;
    int column = 0;
    if (document.setContent(bytes, &message, &line, &column)) {
        return std::nullopt;
    }
#endif
    return zv::LoadResString(zv::SXmlErrorAt).arg(QString::number(line), QString::number(column), message);
}

QString Attribute(const char* name, const char* value)
{
    return QStringLiteral("%1=\"%2\"").arg(QLatin1StringView(name), QLatin1StringView(value));
}

void ReplaceFirst(QString& text, const QString& pattern, const QString& replacement)
{
    const qsizetype at = text.indexOf(pattern, 0, Qt::CaseInsensitive);
    if (at >= 0) {
        text.replace(at, pattern.size(), replacement);
    }
}

QDomNode FirstChildNamed(const QDomNode& parent, const QString& name)
{
    for (QDomNode child = parent.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.nodeName() == name) {
            return child;
        }
    }
    return {};
}

QDomElement Path(const QDomDocument& document, std::initializer_list<const char*> steps)
{
    QDomNode node = document.documentElement();
    QString walked;
    for (const char* step : steps) {
        walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + QLatin1StringView(step);
        node = FirstChildNamed(node, QLatin1StringView(step));
        if (node.isNull() || !node.isElement()) {
            throw EEncodingFileError(zv::LoadResString(zv::SEncodingFileNoElement).arg(walked));
        }
    }
    return node.toElement();
}

} // namespace

QString RewriteProfile(const QString& text, const TBitrateRow& target)
{
    const qsizetype at = text.indexOf(QLatin1StringView("bitrate"));
    if (at < 0) {
        // Without a bitrate there is nothing to identify the profile's row by.
        return text;
    }
    // In the usual form bitrate="VALUE": the value starts 9 characters after the name.
    const qsizetype valueAt = at + 9;
    const QString current = text.mid(valueAt, 5);
    const QString targetKbps = QLatin1StringView(target.Kbps);
    if (current == targetKbps) {
        return text;
    }
    const TBitrateRow* source = nullptr;
    for (const TBitrateRow& row : BitrateRows) {
        if (current == QLatin1StringView(row.CompareKey)) {
            source = &row;
            break;
        }
    }
    if (!source || source == &target) {
        return text;
    }

    QString out = text;
    if (source->ReplaceEvery) {
        out.replace(QLatin1StringView(source->Kbps), targetKbps, Qt::CaseSensitive);
    } else {
        // The bitrate value itself (five characters, the row's whole text): an equal number earlier in
        // the profile, such as a sample rate of 32000, is no bitrate and is left to its own pattern.
        out.replace(valueAt, 5, targetKbps);
    }
    ReplaceFirst(out, Attribute("nAvgBytesPerSec", source->AvgBytesPerSec),
        Attribute("nAvgBytesPerSec", target.AvgBytesPerSec));
    ReplaceFirst(out, Attribute("nSamplesPerSec", source->SamplesPerSec),
        Attribute("nSamplesPerSec", target.SamplesPerSec));
    ReplaceFirst(out, Attribute("lsamplesize", source->Block), Attribute("lsamplesize", target.Block));
    ReplaceFirst(out, Attribute("nBlockAlign", source->Block), Attribute("nBlockAlign", target.Block));
    ReplaceFirst(out, Attribute("codecdata", source->CodecData), Attribute("codecdata", target.CodecData));
    return out;
}

QString XmlCharactersOnly(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += text[i];
            out += text[++i];
            continue;
        }
        const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
        if (control || QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            continue;
        }
        out += text[i];
    }
    return out;
}

void PatchEncodingFile(QDomDocument& document, const TEncodingValues& values, QStringView kbps)
{
    if (document.documentElement().isNull()) {
        throw EEncodingFileError(zv::LoadResString(zv::SEncodingFileNoRoot));
    }
    // A value with a character XML cannot hold would make a file that neither we nor the encoder can
    // read again: such characters (a control byte in cfg.ini's radio name, say) are left out.
    Path(document, { "Description" }).setAttribute(QStringLiteral("Title"), XmlCharactersOnly(values.Title));
    QDomElement source = Path(document, { "SourceGroups", "SourceGroup", "Source" });
    if (!values.InputSource) {
        throw EEncodingFileError(zv::LoadResString(zv::SNoSoundCardSelected));
    }
    source.setAttribute(QStringLiteral("InputSource"), XmlCharactersOnly(*values.InputSource));
    Path(document, { "Broadcast" })
        .setAttribute(QStringLiteral("PublishServer"), XmlCharactersOnly(values.PublishServer));
    Path(document, { "Broadcast" })
        .setAttribute(QStringLiteral("PublishingPoint"), XmlCharactersOnly(values.PublishingPoint));
    if (values.Recording) {
        QDomElement broadcast = Path(document, { "Broadcast" });
        broadcast.setAttribute(QStringLiteral("Recording"), values.Recording->Enabled ? 1 : 0);
        broadcast.setAttribute(
            QStringLiteral("RecordingFolder"), XmlCharactersOnly(values.Recording->Folder));
        broadcast.setAttribute(QStringLiteral("RecordingDays"), values.Recording->Days);
        broadcast.setAttribute(QStringLiteral("RecordingMinFreeMB"), values.Recording->MinFreeMB);
    }

    const TBitrateRow* row = BitrateRowFor(kbps);
    if (!row) {
        return;
    }
    const QDomNodeList children = document.documentElement().childNodes();
    for (int i = 0; i < children.count(); ++i) {
        const QDomNodeList grandchildren = children.item(i).childNodes();
        for (int j = 0; j < grandchildren.count(); ++j) {
            QDomNode node = grandchildren.item(j);
            if (node.nodeName().startsWith(QLatin1Char('#'))) {
                node.setNodeValue(RewriteProfile(node.nodeValue(), *row));
            }
        }
    }
}

int SoundCardForPlaca(int placa, const QString& encodingFile, zv::WaveInOps& binding)
{
    QString named;
    try {
        if (!QFileInfo(encodingFile).isFile()) {
            return placa;
        }
        const QDomDocument document = LoadEncodingFile(encodingFile);
        named = Path(document, { "SourceGroups", "SourceGroup", "Source" })
                    .attribute(QStringLiteral("InputSource"))
                    .trimmed();
    } catch (const EEncodingFileError&) {
        return placa; // the rebuild reports what is wrong with the file
    }
    if (named.isEmpty()) {
        return placa;
    }
    const int id = binding.DeviceIdOf(named.toStdString());
    return id >= 0 ? id : placa;
}

QDomDocument LoadEncodingFile(const QString& path)
{
    // A pipe under the file's name would hold the open (and the window) until a writer came.
    if (const QFileInfo info(path); info.exists() && !info.isFile()) {
        throw EEncodingFileError(zv::LoadResString(zv::SCannotReadEncodingFile)
                                     .arg(path, zv::LoadResString(zv::SNotARegularFile)));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EEncodingFileError(
            zv::LoadResString(zv::SCannotReadEncodingFile).arg(path, file.errorString()));
    }
    // Checked before reading: a huge file would cost many times its size in memory as a document.
    if (file.size() > kMaxBytes) {
        throw EEncodingFileError(TooLarge(path, file.size()));
    }
    const QByteArray bytes = file.read(kMaxBytes + 1); // a file that grows, or a pipe, stops here
    if (bytes.size() > kMaxBytes) {
        throw EEncodingFileError(TooLarge(path, bytes.size()));
    }
    QDomDocument document;
    if (const auto error = ParseError(bytes, document)) {
        throw EEncodingFileError(zv::LoadResString(zv::SEncodingFileNotXml).arg(path, *error));
    }
    return document;
}

void SaveEncodingFile(QDomDocument& document, const QString& path)
{
    // The bytes written are UTF-8 whatever the loaded file declared, so the declaration must say so.
    QDomNode first = document.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1StringView("xml")) {
        first.setNodeValue(QStringLiteral("version=\"1.0\" encoding=\"UTF-8\""));
    }
    const QByteArray bytes = document.toByteArray(2);
    // Whatever went into the document, the file must load again, here and in the encoder.
    if (bytes.size() > kMaxBytes) {
        throw EEncodingFileError(
            zv::LoadResString(zv::SEncodingFileNotSaved).arg(path, TooLarge(path, bytes.size())));
    }
    QDomDocument check;
    if (const auto error = ParseError(bytes, check)) {
        throw EEncodingFileError(zv::LoadResString(zv::SEncodingFileNotSaved).arg(path, *error));
    }
    if (const int error = zv::ReplaceFile(path.toStdString(), bytes, zv::kPrivateFileMode); error != 0) {
        throw EEncodingFileError(zv::LoadResString(zv::SCannotWriteEncodingFile)
                                     .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
}

void RebuildEncodingFileFrom(
    const QString& source, const QString& target, const TEncodingValues& values, QStringView kbps)
{
    QDomDocument document;
    try {
        document = LoadEncodingFile(source);
    } catch (const EEncodingFileError& error) {
        if (source != target) {
            throw;
        }
        // Every later rebuild would fail the same way: tell the operator how to get out of it.
        QString what = error.Message();
        while (what.endsWith(QLatin1Char('.'))) {
            what.chop(1);
        }
        throw EEncodingFileError(zv::LoadResString(zv::SRemakeUserEncodingFile).arg(what, target));
    }
    PatchEncodingFile(document, values, kbps);
    SaveEncodingFile(document, target);
}
