#include "tools/lcfbuild/LcfBuild.h"

#include "platform/Ansi.h"
#include "platform/Locales.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gettext-po.h>

namespace zv::lcf {

namespace {

// --- reading the sources

// Problems gettext reports while reading one file; a fatal one ends the program, as the library
// requires of its handler.
thread_local QStringList tPoProblems;

QString Where(const char* filename, size_t lineno)
{
    if (!filename) {
        return {};
    }
    QString where = QString::fromUtf8(filename);
    if (lineno != static_cast<size_t>(-1)) {
        where += QStringLiteral(":%1").arg(lineno);
    }
    return where + QStringLiteral(": ");
}

void PoError(int severity, po_message_t, const char* filename, size_t lineno, size_t, int, const char* text)
{
    const QString problem = Where(filename, lineno) + QString::fromUtf8(text).trimmed();
    if (severity == PO_SEVERITY_FATAL_ERROR) {
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        std::exit(1);
    }
    if (severity == PO_SEVERITY_ERROR) {
        tPoProblems << problem;
    }
}

void PoError2(int severity, po_message_t m1, const char* f1, size_t l1, size_t c1, int mp1, const char* t1,
    po_message_t, const char*, size_t, size_t, int, const char*)
{
    PoError(severity, m1, f1, l1, c1, mp1, t1);
}

const po_xerror_handler kPoHandler = { PoError, PoError2 };

struct PoFileFree {
    void operator()(po_file* file) const { po_file_free(file); }
};

QString HeaderField(const char* header, const char* field)
{
    if (!header) {
        return {};
    }
    char* value = po_header_field(header, field);
    if (!value) {
        return {};
    }
    QString text = QString::fromUtf8(value).trimmed();
    std::free(value);
    return text;
}

std::optional<int> StringId(const QString& context)
{
    if (context.isEmpty() || context.size() > 5 || !std::all_of(context.begin(), context.end(), [](QChar c) {
            return c.isDigit() && c.unicode() < 128;
        })) {
        return std::nullopt;
    }
    const int id = context.toInt();
    return id <= 0xFFFF ? std::optional<int>(id) : std::nullopt;
}

// --- writing

void Put16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void Put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void Append32(QByteArray& bytes, quint32 value)
{
    const qsizetype at = bytes.size();
    bytes.resize(at + 4);
    Put32(bytes, at, value);
}

QByteArray Utf16Le(const QString& text)
{
    QByteArray bytes(text.size() * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        Put16(bytes, 2 * i, text[i].unicode());
    }
    return bytes;
}

qsizetype Align(qsizetype value, qsizetype alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

QByteArray HeaderResource(const TLcfContent& content)
{
    QByteArray bytes("LCHEADER");
    Append32(bytes, content.LeadingColumn ? 1u : 0u);
    Append32(bytes, static_cast<quint32>(content.Lcids.size()));
    for (std::uint32_t lcid : content.Lcids) {
        Append32(bytes, lcid);
    }
    if (content.Lcheade2) {
        for (std::size_t i = 0; i < content.Lcids.size(); ++i) {
            Append32(bytes,
                i < content.CodePages.size() ? content.CodePages[i]
                                             : zv::DefaultAnsiCodePage(content.Lcids[i]));
        }
    }
    return bytes;
}

QByteArray StringResource(const TStringEntry& entry, bool leadingColumn)
{
    std::vector<std::optional<QString>> columns;
    if (leadingColumn) {
        columns.emplace_back(entry.Leading);
    }
    columns.insert(columns.end(), entry.Texts.begin(), entry.Texts.end());
    QByteArray bytes(static_cast<qsizetype>(8 * columns.size()), '\0');
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const auto at = static_cast<qsizetype>(8 * k);
        if (!columns[k]) {
            Put32(bytes, at + 4, static_cast<quint32>(-1));
            continue;
        }
        const QByteArray text = Utf16Le(*columns[k]);
        Put32(bytes, at, static_cast<quint32>(bytes.size()));
        Put32(bytes, at + 4, static_cast<quint32>(text.size()));
        bytes += text;
    }
    return bytes;
}

QByteArray WindowResource(const QString& className, const std::vector<TWindowEntry>& entries)
{
    // The text the reader skips holds the class name, for people looking at the file.
    const QByteArray skipped = zv::ToAnsi(className);
    QByteArray bytes;
    Append32(bytes, static_cast<quint32>(skipped.size()));
    bytes += skipped;
    Append32(bytes, static_cast<quint32>(entries.size()));
    const qsizetype table = bytes.size();
    bytes.resize(table + static_cast<qsizetype>(8 * entries.size()));
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const TWindowEntry& entry = entries[e];
        const qsizetype start = bytes.size();
        Put32(bytes, table + static_cast<qsizetype>(8 * e), static_cast<quint32>(start - table));
        Put32(bytes, table + static_cast<qsizetype>(8 * e) + 4, 0);
        // Offsets inside the entry are from its own start: the fixed part, the key, the texts.
        QByteArray head(static_cast<qsizetype>(8 + 8 * entry.Texts.size()), '\0');
        QByteArray tail = entry.Key;
        Put32(head, 0, static_cast<quint32>(head.size()));
        Put32(head, 4, static_cast<quint32>(entry.Key.size()));
        for (std::size_t i = 0; i < entry.Texts.size(); ++i) {
            const auto at = static_cast<qsizetype>(8 + 8 * i);
            if (!entry.Texts[i]) {
                Put32(head, at + 4, static_cast<quint32>(-1));
                continue;
            }
            const QByteArray text = Utf16Le(*entry.Texts[i]);
            Put32(head, at, static_cast<quint32>(head.size() + tail.size()));
            Put32(head, at + 4, static_cast<quint32>(text.size()));
            tail += text;
        }
        bytes += head;
        bytes += tail;
    }
    return bytes;
}

// The PE checksum: 16-bit words summed with end-around carry, the checksum field itself left out,
// plus the file's length.
quint32 PeChecksum(const QByteArray& file, qsizetype checksumAt)
{
    quint64 sum = 0;
    for (qsizetype i = 0; i + 1 < file.size(); i += 2) {
        if (i == checksumAt || i == checksumAt + 2) {
            continue;
        }
        sum += qFromLittleEndian<quint16>(file.constData() + i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (file.size() % 2) {
        sum += static_cast<quint8>(file.back());
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint32>(sum + static_cast<quint64>(file.size()));
}

} // namespace

TPoSource ReadPoSource(const QString& file)
{
    if (!QFileInfo(file).isFile() || !QFileInfo(file).isReadable()) {
        throw ELcfSourceError((file + QStringLiteral(": cannot be read")).toStdString());
    }
    tPoProblems.clear();
    const std::unique_ptr<po_file, PoFileFree> po(
        po_file_read(QFile::encodeName(file).constData(), &kPoHandler));
    if (!po || !tPoProblems.isEmpty()) {
        throw ELcfSourceError((tPoProblems.isEmpty() ? file + QStringLiteral(": cannot be read")
                                                     : tPoProblems.join(QLatin1Char('\n')))
                                  .toStdString());
    }
    const char* header = po_file_domain_header(po.get(), nullptr);
    TPoSource source;
    source.Language = HeaderField(header, "Language");
    const QString contentType = HeaderField(header, "Content-Type");
    if (!contentType.contains(QLatin1String("charset=UTF-8"), Qt::CaseInsensitive)) {
        throw ELcfSourceError((file + QStringLiteral(": the header must say charset=UTF-8")).toStdString());
    }

    po_message_iterator_t it = po_message_iterator(po.get(), nullptr);
    QHash<QString, QString> seen;
    while (po_message_t message = po_next_message(it)) {
        const char* msgctxt = po_message_msgctxt(message);
        const char* msgid = po_message_msgid(message);
        if (po_message_is_obsolete(message) || (!msgctxt && msgid[0] == '\0')) {
            continue; // obsolete entries and the header
        }
        if (!msgctxt) {
            po_message_iterator_free(it);
            throw ELcfSourceError(
                (file + QStringLiteral(": \"%1\" has no msgctxt").arg(QString::fromUtf8(msgid)))
                    .toStdString());
        }
        TPoSource::Message m { QString::fromUtf8(msgctxt), QString::fromUtf8(msgid), std::nullopt };
        const char* msgstr = po_message_msgstr(message);
        if (msgstr[0] != '\0' && !po_message_is_fuzzy(message)) {
            m.Translation = QString::fromUtf8(msgstr);
        }
        if (seen.contains(m.Context)) {
            po_message_iterator_free(it);
            throw ELcfSourceError(
                (file + QStringLiteral(": msgctxt \"%1\" appears twice").arg(m.Context)).toStdString());
        }
        seen.insert(m.Context, m.Source);
        source.Messages.push_back(std::move(m));
    }
    po_message_iterator_free(it);
    return source;
}

TLcfContent ReadPoSources(const QStringList& files)
{
    TLcfContent content;
    std::vector<TPoSource> sources;
    for (const QString& file : files) {
        TPoSource source = ReadPoSource(file);
        const std::uint32_t lcid = zv::LcidForLocale(source.Language);
        if (source.Language.isEmpty() || lcid == 0) {
            throw ELcfSourceError(
                (file + QStringLiteral(": Language \"%1\" names no locale id").arg(source.Language))
                    .toStdString());
        }
        if (std::find(content.Lcids.begin(), content.Lcids.end(), lcid) != content.Lcids.end()) {
            throw ELcfSourceError(
                (file + QStringLiteral(": a second source for locale id %1").arg(lcid)).toStdString());
        }
        content.Lcids.push_back(lcid);
        sources.push_back(std::move(source));
    }

    const std::size_t languages = sources.size();
    QHash<QString, std::size_t> windowIndex; // upper-cased class -> index in content.Windows
    QHash<QString, std::pair<std::size_t, std::size_t>> entryIndex; // context -> (window, entry)
    for (std::size_t lang = 0; lang < languages; ++lang) {
        for (const TPoSource::Message& m : sources[lang].Messages) {
            if (const std::optional<int> id = StringId(m.Context)) {
                TStringEntry& entry = content.Strings[*id];
                if (entry.Texts.empty()) {
                    entry.Texts.resize(languages);
                    entry.Leading = m.Source;
                }
                entry.Texts[lang] = m.Translation;
                continue;
            }
            const qsizetype bar = m.Context.indexOf(QLatin1Char('|'));
            const QString className = m.Context.left(bar);
            const QString key = m.Context.mid(bar + 1);
            const std::optional<QByteArray> ansiKey = zv::ToAnsiExact(key);
            if (bar <= 0 || key.isEmpty() || !key.contains(QLatin1Char('-')) || !ansiKey) {
                throw ELcfSourceError((files[static_cast<qsizetype>(lang)]
                    + QStringLiteral(": msgctxt \"%1\" is neither a string id nor Class|Component-Property")
                          .arg(m.Context))
                                          .toStdString());
            }
            const QString upperContext = m.Context.toUpper();
            auto found = entryIndex.constFind(upperContext);
            if (found == entryIndex.constEnd()) {
                const QString upperClass = className.toUpper();
                if (!windowIndex.contains(upperClass)) {
                    windowIndex.insert(upperClass, content.Windows.size());
                    content.Windows.emplace_back(className, std::vector<TWindowEntry> {});
                }
                const std::size_t w = windowIndex.value(upperClass);
                auto& entries = content.Windows[w].second;
                entries.push_back({ *ansiKey, TTexts(languages) });
                found = entryIndex.insert(upperContext, { w, entries.size() - 1 });
            }
            content.Windows[found->first].second[found->second].Texts[lang] = m.Translation;
        }
    }
    return content;
}

std::vector<TResource> LanguageResources(const TLcfContent& content)
{
    std::vector<TResource> resources;
    resources.push_back({ content.Lcheade2 ? QStringLiteral("LCHEADE2") : QStringLiteral("LCHEADER"),
        HeaderResource(content) });
    for (const auto& [id, entry] : content.Strings) {
        resources.push_back({ QString::number(id), StringResource(entry, content.LeadingColumn) });
    }
    for (const auto& [className, entries] : content.Windows) {
        resources.push_back({ className.toUpper(), WindowResource(className, entries) });
    }
    return resources;
}

QByteArray BuildResourceModule(const std::vector<TResource>& input)
{
    // Names are stored upper-cased and sorted, as the system's resource look-up expects.
    std::vector<TResource> resources = input;
    for (TResource& r : resources) {
        r.Name = r.Name.toUpper();
    }
    std::sort(resources.begin(), resources.end(), [](const TResource& a, const TResource& b) {
        return std::lexicographical_compare(
            a.Name.utf16(), a.Name.utf16() + a.Name.size(), b.Name.utf16(), b.Name.utf16() + b.Name.size());
    });
    resources.erase(std::unique(resources.begin(), resources.end(),
                        [](const TResource& a, const TResource& b) { return a.Name == b.Name; }),
        resources.end());

    constexpr quint32 kSubdirectory = 0x80000000u;
    constexpr quint32 kSectionRva = 0x1000;
    constexpr qsizetype kFileAlignment = 0x200;
    constexpr qsizetype kSectionAlignment = 0x1000;
    const auto n = static_cast<qsizetype>(resources.size());

    // The resource section: root (one type), the type's name directory, one language directory per
    // name, the data entries, the names, then the data.
    const qsizetype root = 0;
    const qsizetype names = root + 16 + 8;
    const qsizetype languages = names + 16 + 8 * n;
    const qsizetype dataEntries = languages + n * (16 + 8);
    const qsizetype strings = dataEntries + 16 * n;
    qsizetype end = strings;
    std::vector<qsizetype> nameAt(static_cast<std::size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        nameAt[static_cast<std::size_t>(i)] = end;
        end += 2 + 2 * resources[static_cast<std::size_t>(i)].Name.size();
    }
    std::vector<qsizetype> dataAt(static_cast<std::size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        end = Align(end, 8);
        dataAt[static_cast<std::size_t>(i)] = end;
        end += resources[static_cast<std::size_t>(i)].Data.size();
    }
    QByteArray rsrc(end, '\0');
    Put16(rsrc, root + 14, 1); // one type, by number
    Put32(rsrc, root + 16, 10);
    Put32(rsrc, root + 20, kSubdirectory | static_cast<quint32>(names));
    Put16(rsrc, names + 12, static_cast<quint16>(n)); // named entries
    for (qsizetype i = 0; i < n; ++i) {
        const TResource& r = resources[static_cast<std::size_t>(i)];
        const qsizetype name = nameAt[static_cast<std::size_t>(i)];
        const qsizetype language = languages + i * 24;
        const qsizetype dataEntry = dataEntries + i * 16;
        Put32(rsrc, names + 16 + 8 * i, kSubdirectory | static_cast<quint32>(name));
        Put32(rsrc, names + 20 + 8 * i, kSubdirectory | static_cast<quint32>(language));
        Put16(rsrc, language + 14, 1); // one language, neutral (id 0)
        Put32(rsrc, language + 20, static_cast<quint32>(dataEntry));
        Put32(rsrc, dataEntry, kSectionRva + static_cast<quint32>(dataAt[static_cast<std::size_t>(i)]));
        Put32(rsrc, dataEntry + 4, static_cast<quint32>(r.Data.size()));
        Put16(rsrc, name, static_cast<quint16>(r.Name.size()));
        for (qsizetype c = 0; c < r.Name.size(); ++c) {
            Put16(rsrc, name + 2 + 2 * c, r.Name[c].unicode());
        }
        std::copy(r.Data.begin(), r.Data.end(), rsrc.begin() + dataAt[static_cast<std::size_t>(i)]);
    }

    // Headers: DOS header pointing at the PE header, file header, PE32+ optional header, one section.
    const qsizetype pe = 0x80;
    const qsizetype optional = pe + 24;
    const qsizetype optionalSize = 240;
    const qsizetype section = optional + optionalSize;
    const qsizetype headers = Align(section + 40, kFileAlignment);
    const qsizetype rawSize = Align(rsrc.size(), kFileAlignment);
    QByteArray file(headers + rawSize, '\0');
    file[0] = 'M';
    file[1] = 'Z';
    Put32(file, 0x3C, static_cast<quint32>(pe));
    file.replace(pe, 4, QByteArray("PE\0\0", 4));
    Put16(file, pe + 4, 0x8664); // x86-64
    Put16(file, pe + 6, 1); // sections
    Put16(file, pe + 20, static_cast<quint16>(optionalSize));
    Put16(file, pe + 22, 0x2022); // executable image, large addresses, DLL
    Put16(file, optional + 0, 0x20B);
    file[optional + 2] = 1; // linker version 1.0
    Put32(file, optional + 8, static_cast<quint32>(rawSize)); // initialised data
    file.replace(optional + 24, 8, QByteArray("\0\0\0\x80\x01\0\0\0", 8)); // image base 0x180000000
    Put32(file, optional + 32, kSectionAlignment);
    Put32(file, optional + 36, kFileAlignment);
    Put16(file, optional + 40, 6); // operating system 6.0
    Put16(file, optional + 48, 6); // subsystem 6.0
    Put32(file, optional + 56, static_cast<quint32>(kSectionRva + Align(rsrc.size(), kSectionAlignment)));
    Put32(file, optional + 60, static_cast<quint32>(headers));
    Put16(file, optional + 68, 2); // graphical subsystem
    Put16(file, optional + 70, 0x0160); // high-entropy addresses, relocatable, no-execute data
    Put32(file, optional + 72, 0x100000); // stack reserve
    Put32(file, optional + 80, 0x1000); // stack commit
    Put32(file, optional + 88, 0x100000); // heap reserve
    Put32(file, optional + 96, 0x1000); // heap commit
    Put32(file, optional + 108, 16); // data directories
    Put32(file, optional + 112 + 8 * 2, kSectionRva); // resources
    Put32(file, optional + 112 + 8 * 2 + 4, static_cast<quint32>(rsrc.size()));
    file.replace(section, 8, QByteArray(".rsrc\0\0\0", 8));
    Put32(file, section + 8, static_cast<quint32>(rsrc.size()));
    Put32(file, section + 12, kSectionRva);
    Put32(file, section + 16, static_cast<quint32>(rawSize));
    Put32(file, section + 20, static_cast<quint32>(headers));
    Put32(file, section + 36, 0x40000040); // initialised data, readable
    std::copy(rsrc.begin(), rsrc.end(), file.begin() + headers);
    Put32(file, optional + 64, PeChecksum(file, optional + 64));
    return file;
}

void WriteResourceScript(const std::vector<TResource>& resources, const QString& directory)
{
    if (!QDir().mkpath(directory)) {
        throw ELcfSourceError((directory + QStringLiteral(": cannot be made")).toStdString());
    }
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QSaveFile file(QDir(directory).filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            throw ELcfSourceError((file.fileName() + QStringLiteral(": cannot be written")).toStdString());
        }
    };
    // Names in quotes stay names, also the all-digit ones; file names without quotes, or the script's
    // reader joins them with the quoted name on the next line.
    QByteArray script;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const QString data = QStringLiteral("r%1.bin").arg(i);
        write(data, resources[i].Data);
        script += '"' + resources[i].Name.toLatin1() + "\" RCDATA " + data.toLatin1() + '\n';
    }
    write(QStringLiteral("lcf.rc"), script);
}

} // namespace zv::lcf
