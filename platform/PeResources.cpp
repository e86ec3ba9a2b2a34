#include "platform/PeResources.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace zv {

namespace {

constexpr quint32 kSubdirectoryBit = 0x80000000u;
constexpr qsizetype kDirectoryBytes = 16;
constexpr qsizetype kEntryBytes = 8;
constexpr qsizetype kDataEntryBytes = 16;
constexpr qsizetype kSectionBytes = 40;
constexpr int kResourceDirectoryIndex = 2;

struct Section {
    quint64 virtualAddress = 0;
    quint64 rawSize = 0;
    quint64 rawOffset = 0;
};

// Little-endian reads from a span of bytes that the caller has already bounds-checked.
quint16 U16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 U32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// True when [offset, offset + length) lies inside [0, limit); all in 64 bits, so nothing wraps.
bool Inside(quint64 offset, quint64 length, quint64 limit)
{
    return offset <= limit && length <= limit - offset;
}

QString Upper(QStringView name)
{
    QString upper = name.toString();
    for (QChar& c : upper) {
        if (c >= u'a' && c <= u'z') {
            c = QChar(c.unicode() - (u'a' - u'A'));
        }
    }
    return upper;
}

} // namespace

TResourceModule TResourceModule::Open(const std::filesystem::path& path)
{
    const QString name = QString::fromStdString(path.string());
    // A pipe would hold the open until someone writes to it, and a device such as /dev/zero never
    // ends: only a regular file (or a link to one) is read.
    const QFileInfo info(name);
    if (info.exists() && !info.isFile()) {
        throw EResourceModuleError(QStringLiteral("%1: is not a regular file").arg(name));
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EResourceModuleError(QStringLiteral("%1: cannot be opened: %2").arg(name, file.errorString()));
    }
    if (file.size() > MaxFileBytes) {
        throw EResourceModuleError(
            QStringLiteral("%1: too large for a resource module (%2 bytes)").arg(name).arg(file.size()));
    }
    QByteArray bytes = file.readAll(); // a file that grew since is refused below
    if (file.error() != QFileDevice::NoError) {
        throw EResourceModuleError(QStringLiteral("%1: cannot be read: %2").arg(name, file.errorString()));
    }
    return FromBytes(std::move(bytes), name);
}

TResourceModule TResourceModule::FromBytes(QByteArray bytes, const QString& name)
{
    TResourceModule module;
    module.name_ = name;
    module.bytes_ = std::move(bytes);
    if (module.bytes_.size() > MaxFileBytes) {
        module.Fail(QStringLiteral("too large for a resource module"));
    }
    module.Parse();
    return module;
}

void TResourceModule::Fail(const QString& what) const
{
    throw EResourceModuleError(QStringLiteral("%1: %2").arg(name_, what));
}

void TResourceModule::Parse()
{
    const QByteArray& b = bytes_;
    const auto size = static_cast<quint64>(b.size());

    // DOS header, then the PE signature and the file header where it points.
    if (size < 64 || b[0] != 'M' || b[1] != 'Z') {
        Fail(QStringLiteral("not a resource module (no MZ header)"));
    }
    const quint64 pe = U32(b, 0x3C);
    if (!Inside(pe, 24, size) || b.mid(static_cast<qsizetype>(pe), 4) != QByteArray("PE\0\0", 4)) {
        Fail(QStringLiteral("not a resource module (no PE header)"));
    }
    const auto peAt = static_cast<qsizetype>(pe);
    const quint64 sectionCount = U16(b, peAt + 6);
    const quint64 optionalSize = U16(b, peAt + 20);
    const quint64 optional = pe + 24;
    if (!Inside(optional, optionalSize, size) || optionalSize < 2) {
        Fail(QStringLiteral("the optional header lies outside the file"));
    }

    // The optional header's data directories: PE32 and PE32+ differ only in where they start.
    const auto optionalAt = static_cast<qsizetype>(optional);
    const quint16 magic = U16(b, optionalAt);
    quint64 countField = 0;
    if (magic == 0x10B) {
        countField = 92;
    } else if (magic == 0x20B) {
        countField = 108;
    } else {
        Fail(QStringLiteral("unknown optional header (magic 0x%1)").arg(magic, 4, 16, QLatin1Char('0')));
    }
    if (countField + 4 > optionalSize) {
        Fail(QStringLiteral("the optional header is too short"));
    }
    const quint64 directoryCount = U32(b, optionalAt + static_cast<qsizetype>(countField));
    const quint64 directoryField = countField + 4 + 8 * kResourceDirectoryIndex;
    quint64 resourceRva = 0;
    quint64 resourceSize = 0;
    if (directoryCount > kResourceDirectoryIndex && directoryField + 8 <= optionalSize) {
        resourceRva = U32(b, optionalAt + static_cast<qsizetype>(directoryField));
        resourceSize = U32(b, optionalAt + static_cast<qsizetype>(directoryField) + 4);
    }

    // Section table, right after the optional header.
    const quint64 table = optional + optionalSize;
    if (!Inside(table, sectionCount * kSectionBytes, size)) {
        Fail(QStringLiteral("the section table lies outside the file"));
    }
    std::vector<Section> sections;
    sections.reserve(static_cast<std::size_t>(sectionCount));
    for (quint64 s = 0; s < sectionCount; ++s) {
        const auto at = static_cast<qsizetype>(table + s * kSectionBytes);
        sections.push_back({ U32(b, at + 12), U32(b, at + 16), U32(b, at + 20) });
    }
    // The file bytes of an address range of the loaded image; only bytes the file holds count.
    const auto toFile = [&](quint64 rva, quint64 length) -> std::optional<quint64> {
        for (const Section& section : sections) {
            if (rva >= section.virtualAddress && Inside(rva - section.virtualAddress, length, section.rawSize)
                && Inside(section.rawOffset + (rva - section.virtualAddress), length, size)) {
                return section.rawOffset + (rva - section.virtualAddress);
            }
        }
        return std::nullopt;
    };

    if (resourceRva == 0 || resourceSize == 0) {
        return; // a module without resources
    }
    const std::optional<quint64> resourceStart = toFile(resourceRva, resourceSize);
    if (!resourceStart) {
        Fail(QStringLiteral("the resource directory lies outside the file's sections"));
    }
    // Offsets inside the resource directory are from its start and must stay inside it.
    const auto base = static_cast<qsizetype>(*resourceStart);
    const quint64 limit = resourceSize;

    struct Directory {
        qsizetype entries = 0; // file offset of the first entry
        quint64 count = 0;
    };
    const auto directory = [&](quint64 offset, const char* level) {
        if (!Inside(offset, kDirectoryBytes, limit)) {
            Fail(QStringLiteral("a %1 directory lies outside the resources").arg(QLatin1String(level)));
        }
        const auto at = base + static_cast<qsizetype>(offset);
        const quint64 count = quint64(U16(b, at + 12)) + U16(b, at + 14);
        if (!Inside(offset + kDirectoryBytes, count * kEntryBytes, limit)) {
            Fail(QStringLiteral("the entries of a %1 directory run past the resources")
                     .arg(QLatin1String(level)));
        }
        return Directory { at + kDirectoryBytes, count };
    };

    // Level 1: resource types; only raw data is read.
    const Directory types = directory(0, "type");
    std::optional<quint64> rcDataOffset;
    for (quint64 e = 0; e < types.count && !rcDataOffset; ++e) {
        const auto at = types.entries + static_cast<qsizetype>(e * kEntryBytes);
        const quint32 id = U32(b, at);
        const quint32 target = U32(b, at + 4);
        if (id == RtRcData) {
            if (!(target & kSubdirectoryBit)) {
                Fail(QStringLiteral("the raw-data type entry is not a directory"));
            }
            rcDataOffset = target & ~kSubdirectoryBit;
        }
    }
    if (!rcDataOffset) {
        return;
    }

    // Level 2: names; level 3: languages, of which the first is taken.
    const Directory names = directory(*rcDataOffset, "name");
    for (quint64 e = 0; e < names.count; ++e) {
        const auto at = names.entries + static_cast<qsizetype>(e * kEntryBytes);
        const quint32 nameField = U32(b, at);
        const quint32 target = U32(b, at + 4);
        if (!(nameField & kSubdirectoryBit)) {
            continue; // named by number
        }
        const quint64 nameOffset = nameField & ~kSubdirectoryBit;
        if (!Inside(nameOffset, 2, limit)) {
            Fail(QStringLiteral("a resource name lies outside the resources"));
        }
        const quint64 length = U16(b, base + static_cast<qsizetype>(nameOffset));
        if (!Inside(nameOffset + 2, length * 2, limit)) {
            Fail(QStringLiteral("a resource name runs past the resources"));
        }
        QString name(static_cast<qsizetype>(length), Qt::Uninitialized);
        for (quint64 c = 0; c < length; ++c) {
            name[static_cast<qsizetype>(c)]
                = QChar(U16(b, base + static_cast<qsizetype>(nameOffset + 2 + 2 * c)));
        }
        if (!(target & kSubdirectoryBit)) {
            Fail(QStringLiteral("resource %1 has no language directory").arg(name));
        }
        const Directory languages = directory(target & ~kSubdirectoryBit, "language");
        if (languages.count == 0) {
            Fail(QStringLiteral("resource %1 has no language").arg(name));
        }
        const quint32 leaf = U32(b, languages.entries + 4);
        if ((leaf & kSubdirectoryBit) || !Inside(leaf, kDataEntryBytes, limit)) {
            Fail(QStringLiteral("resource %1 has a damaged data entry").arg(name));
        }
        const quint64 dataRva = U32(b, base + static_cast<qsizetype>(leaf));
        const quint64 dataSize = U32(b, base + static_cast<qsizetype>(leaf) + 4);
        const std::optional<quint64> data = toFile(dataRva, dataSize);
        if (!data) {
            Fail(QStringLiteral("the data of resource %1 lies outside the file's sections").arg(name));
        }
        const QString key = Upper(name);
        if (!rcData_.contains(key)) {
            rcData_.insert(key, Span { static_cast<qsizetype>(*data), static_cast<qsizetype>(dataSize) });
            names_.append(name);
        }
    }
}

std::optional<QByteArray> TResourceModule::RcData(QStringView name) const
{
    const auto found = rcData_.constFind(Upper(name));
    if (found == rcData_.constEnd()) {
        return std::nullopt;
    }
    return bytes_.mid(found->offset, found->size);
}

QStringList TResourceModule::RcDataNames() const
{
    return names_;
}

} // namespace zv
