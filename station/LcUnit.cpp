#include "station/LcUnit.h"

#include "platform/Ansi.h"
#include "platform/Locales.h"
#include "platform/PeResources.h"
#include "platform/ResStrings.h"
#include "station/StationStrings.h"

#include <QHash>
#include <QObject>
#include <QtEndian>
#include <algorithm>

struct TLcfLanguage {
    zv::TResourceModule Module;
    std::uint32_t Lcid = 0;
    int Index = 0; // in the header's list
    int Column = 0; // among a string resource's columns
    std::uint32_t CodePage = 0;

    // The text of string resource `id` for this language, in its code page; nothing when the file
    // has none (or a damaged one).
    std::optional<QString> StringText(int id) const;
};

namespace {

constexpr char kMagic[] = "LCHEADER";
constexpr qsizetype kHeaderBytes = 16;

quint32 U32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

qint32 S32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

// True when [offset, offset + length) lies inside [0, limit); negative values never do.
bool Inside(qint64 offset, qint64 length, qint64 limit)
{
    return offset >= 0 && length >= 0 && offset <= limit && length <= limit - offset;
}

QString Utf16Le(const QByteArray& bytes, qsizetype offset, qsizetype byteLength)
{
    QString text(byteLength / 2, Qt::Uninitialized);
    for (qsizetype c = 0; c < text.size(); ++c) {
        text[c] = QChar(qFromLittleEndian<quint16>(bytes.constData() + offset + 2 * c));
    }
    return text;
}

// The entries of one window resource with a text for language `index`, last entry first. A damaged
// table gives nothing; a damaged entry is passed over.
void ReadWindowEntries(const QByteArray& r, int index, std::vector<TProp>& out)
{
    const qint64 size = r.size();
    if (size < 4) {
        return;
    }
    const qint64 skipped = U32(r, 0);
    if (!Inside(4 + skipped, 4, size)) {
        return;
    }
    const qint64 count = U32(r, static_cast<qsizetype>(4 + skipped));
    const qint64 table = 8 + skipped;
    if (!Inside(table, count * 8, size)) {
        return;
    }
    for (qint64 e = count - 1; e >= 0; --e) {
        const qint64 entry = table + qint64(U32(r, static_cast<qsizetype>(table + 8 * e)));
        const qint64 column = 8 + 8 * qint64(index);
        if (!Inside(entry, column + 8, size)) {
            continue;
        }
        const qint64 keyOffset = S32(r, static_cast<qsizetype>(entry));
        const qint64 keyLength = S32(r, static_cast<qsizetype>(entry + 4));
        const qint64 textOffset = S32(r, static_cast<qsizetype>(entry + column));
        const qint64 textLength = S32(r, static_cast<qsizetype>(entry + column + 4));
        if (textLength < 0 || !Inside(keyOffset, keyLength, size - entry)
            || !Inside(textOffset, textLength, size - entry)) {
            continue;
        }
        out.push_back({ r.mid(static_cast<qsizetype>(entry + keyOffset), static_cast<qsizetype>(keyLength)),
            Utf16Le(r, static_cast<qsizetype>(entry + textOffset), static_cast<qsizetype>(textLength)) });
    }
}

// --- property paths

struct Segment {
    QByteArray Name;
    enum { None, Line, Item } Index = None;
    int N = 0;
};

// "Name", "Name(n)" or "Name<n>". An index that is not a decimal number raises.
Segment ParseSegment(const QByteArray& text, const QString& where)
{
    Segment segment { text };
    const auto split = [&](char open, char close, decltype(Segment::Index) kind) {
        const qsizetype at = text.indexOf(open);
        if (!text.endsWith(close) || at < 0) {
            return false;
        }
        const QByteArray digits = text.mid(at + 1, text.size() - at - 2);
        const bool decimal = !digits.isEmpty()
            && std::all_of(digits.begin() + (digits.startsWith('-') ? 1 : 0), digits.end(),
                [](char c) { return c >= '0' && c <= '9'; })
            && digits != "-";
        bool ok = false;
        const int n = decimal ? digits.toInt(&ok) : 0;
        if (!decimal || !ok) {
            throw ELcfError(where + QStringLiteral(": ")
                + zv::LoadResString(zv::SInvalidInteger).arg(zv::FromAnsi(digits)));
        }
        segment = Segment { text.left(at), kind, n };
        return true;
    };
    if (!split('(', ')', Segment::Line)) {
        split('<', '>', Segment::Item);
    }
    return segment;
}

void ApplyEntry(QObject& component, const QByteArray& path, const QString& text, std::uint32_t codePage,
    const QString& where)
{
    QObject* current = &component;
    const QList<QByteArray> segments = path.split('.');
    for (qsizetype s = 0; s < segments.size(); ++s) {
        const Segment segment = ParseSegment(segments[s], where);
        const std::optional<TPropRef> property = TPropRef::Find(*current, segment.Name);
        if (!property) {
            return;
        }
        if (s == segments.size() - 1) {
            // The target: only texts are set, and only when writable and different.
            if (property->Kind() == TPropKind::Text && property->Writable()
                && property->Read().toString() != text) {
                property->Write(text);
            }
            return;
        }
        const QVariant value = property->Read();
        switch (segment.Index) {
        case Segment::Line: {
            // A line of a string list; the walk ends here.
            if (property->Kind() != TPropKind::StringList) {
                return;
            }
            QStringList lines = value.toStringList();
            if (segment.N < 0 || segment.N >= lines.size()) {
                return;
            }
            const QString line = zv::ThroughCodePage(text, codePage);
            if (lines[segment.N] != line && property->Writable()) {
                lines[segment.N] = line;
                property->Write(lines);
            }
            return;
        }
        case Segment::Item: {
            if (property->Kind() != TPropKind::Collection) {
                throw ELcfError(
                    zv::LoadResString(zv::SNotACollection).arg(where, QString::fromLatin1(segment.Name)));
            }
            const QObjectList items = value.value<QObjectList>();
            if (segment.N < 0 || segment.N >= items.size() || !items[segment.N]) {
                return;
            }
            current = items[segment.N];
            break;
        }
        case Segment::None:
            if (property->Kind() != TPropKind::Object) {
                return;
            }
            current = qvariant_cast<QObject*>(value);
            if (!current) {
                return;
            }
            break;
        }
    }
}

std::vector<std::unique_ptr<TPropAdapter>>& Adapters()
{
    static std::vector<std::unique_ptr<TPropAdapter>> adapters;
    return adapters;
}

bool SameName(const char* a, QByteArrayView b)
{
    return qstrnicmp(a, qstrlen(a), b.data(), b.size()) == 0;
}

TPropKind KindOf(const QMetaType& type)
{
    if (type == QMetaType::fromType<QString>()) {
        return TPropKind::Text;
    }
    if (type == QMetaType::fromType<QStringList>()) {
        return TPropKind::StringList;
    }
    if (type == QMetaType::fromType<QObjectList>()) {
        return TPropKind::Collection;
    }
    if (type.flags() & QMetaType::PointerToQObject) {
        return TPropKind::Object;
    }
    return TPropKind::Other;
}

} // namespace

std::optional<QString> TLcfLanguage::StringText(int id) const
{
    const std::optional<QByteArray> r = Module.RcData(QString::number(id));
    if (!r || !Inside(8 * qint64(Column), 8, r->size())) {
        return std::nullopt;
    }
    const qint64 offset = S32(*r, 8 * Column);
    const qint64 length = S32(*r, 8 * Column + 4);
    if (length < 0 || !Inside(offset, length, r->size())) {
        return std::nullopt;
    }
    return zv::ThroughCodePage(
        Utf16Le(*r, static_cast<qsizetype>(offset), static_cast<qsizetype>(length)), CodePage);
}

// --- TProc

TProc::TProc(std::shared_ptr<const TLcfLanguage> language)
{
    zv::SetResStringLookup(
        [language = std::move(language)](int id) { return language->StringText(id).value_or(QString()); });
}

TProc::~TProc()
{
    zv::SetResStringLookup({});
}

// --- TLcf

TLcf& TLcf::Instance()
{
    static TLcf lcf;
    return lcf;
}

TOpenLanguageResult TLcf::Open(
    const std::filesystem::path& file, std::uint32_t lcid, TLanguageEnumProc proc, void* context)
{
    Close();
    std::optional<zv::TResourceModule> module;
    try {
        module = zv::TResourceModule::Open(file);
    } catch (const zv::EResourceModuleError&) {
        return olNoFile; // no file, or not a sound resource module: the built-in texts stay
    }
    return Open(std::move(*module), lcid, proc, context);
}

TOpenLanguageResult TLcf::Open(
    zv::TResourceModule moduleRead, std::uint32_t lcid, TLanguageEnumProc proc, void* context)
{
    Close();
    std::optional<zv::TResourceModule> module(std::move(moduleRead));
    bool secondForm = false;
    std::optional<QByteArray> header = module->RcData(u"LCHEADER");
    if (!header) {
        header = module->RcData(u"LCHEADE2");
        secondForm = true;
    }
    // The magic is "LCHEADER" whichever name the resource has.
    if (!header || header->size() < kHeaderBytes || !header->startsWith(kMagic)) {
        return olNoFile;
    }
    const quint32 flags = U32(*header, 8);
    const qint64 count = U32(*header, 12);
    if (!Inside(kHeaderBytes, count * (secondForm ? 8 : 4), header->size())) {
        return olNoFile; // the list runs past the header
    }
    const auto id = [&](qint64 i) { return U32(*header, static_cast<qsizetype>(kHeaderBytes + 4 * i)); };

    if (proc) {
        for (qint64 i = 0; i < count; ++i) {
            if (!proc(id(i), context)) {
                break;
            }
        }
    }
    for (qint64 i = 0; i < count; ++i) {
        if (id(i) != lcid) {
            continue;
        }
        auto language = std::make_shared<TLcfLanguage>(TLcfLanguage { std::move(*module), lcid,
            static_cast<int>(i), static_cast<int>(i) + static_cast<int>(flags & 1), 0 });
        language->CodePage = secondForm ? U32(*header, static_cast<qsizetype>(kHeaderBytes + 4 * (count + i)))
                                        : zv::DefaultAnsiCodePage(lcid);
        language_ = language;
        proc_ = std::make_unique<TProc>(std::move(language));
        return olOpened;
    }
    return olNoLanguage;
}

void TLcf::Close()
{
    proc_.reset();
    language_.reset();
}

std::uint32_t TLcf::Lcid() const
{
    return language_ ? language_->Lcid : 0;
}

int TLcf::LanguageIndex() const
{
    return language_ ? language_->Index : -1;
}

int TLcf::StringColumn() const
{
    return language_ ? language_->Column : -1;
}

std::uint32_t TLcf::CodePage() const
{
    return language_ ? language_->CodePage : 0;
}

std::optional<QByteArray> TLcf::Resource(const QString& name) const
{
    if (!language_) {
        return std::nullopt;
    }
    return language_->Module.RcData(name);
}

// --- the Part's operations

int OpenLanguage(const std::filesystem::path& file, std::uint32_t lcid, TLanguageEnumProc proc, void* context)
{
    return TLcf::Instance().Open(file, lcid, proc, context);
}

void CloseLanguage()
{
    TLcf::Instance().Close();
}

QString LookupResString(int id)
{
    return zv::LoadResString(id);
}

TProps TProps::Collect(const QObject& window)
{
    TProps props;
    const TLcf& lcf = TLcf::Instance();
    if (!lcf.IsOpen()) {
        return props;
    }
    std::vector<const QMetaObject*> classes;
    for (const QMetaObject* c = window.metaObject(); c; c = c->superClass()) {
        classes.insert(classes.begin(), c);
    }
    std::vector<std::optional<QByteArray>> resources;
    resources.reserve(classes.size());
    for (const QMetaObject* c : classes) {
        resources.push_back(lcf.Resource(QString::fromLatin1(c->className()).toUpper()));
    }
    if (!resources.back()) {
        return props; // the window's own class has no texts: nothing at all
    }
    for (const auto& r : resources) {
        if (r) {
            ReadWindowEntries(*r, lcf.LanguageIndex(), props.Items);
        }
    }
    return props;
}

void TranslateForm(QObject& window)
{
    const TLcf& lcf = TLcf::Instance();
    if (!lcf.IsOpen()) {
        return;
    }
    const TProps props = TProps::Collect(window);
    if (props.Items.empty()) {
        return;
    }
    // The window's components by name, letter case ignored; the first of a name counts.
    QHash<QString, QObject*> components;
    for (QObject* child : window.findChildren<QObject*>()) {
        if (!child->objectName().isEmpty() && !components.contains(child->objectName().toLower())) {
            components.insert(child->objectName().toLower(), child);
        }
    }
    const QString windowName = window.objectName().toLower();
    for (const TProp& prop : props.Items) {
        const qsizetype dash = prop.Key.indexOf('-');
        if (dash < 0) {
            continue;
        }
        const QString name = zv::FromAnsi(prop.Key.left(dash)).toLower();
        QByteArray path = prop.Key.mid(dash + 1);
        path.truncate(path.indexOf('-') < 0 ? path.size() : path.indexOf('-'));
        QObject* component = name == windowName ? &window : components.value(name);
        if (!component || name.isEmpty()) {
            continue;
        }
        ApplyEntry(*component, path, prop.Text, lcf.CodePage(),
            QStringLiteral("%1, %2").arg(window.objectName(), zv::FromAnsi(prop.Key)));
    }
}

// --- properties

void RegisterPropAdapter(TPropAdapter adapter)
{
    Adapters().push_back(std::make_unique<TPropAdapter>(std::move(adapter)));
}

std::optional<TPropRef> TPropRef::Find(QObject& object, QByteArrayView name)
{
    TPropRef ref;
    ref.object_ = &object;
    const QMetaObject* meta = object.metaObject();
    for (int p = 0; p < meta->propertyCount(); ++p) {
        const QMetaProperty property = meta->property(p);
        if (SameName(property.name(), name)) {
            ref.meta_ = property;
            ref.kind_ = KindOf(property.metaType());
            return ref;
        }
    }
    const auto& adapters = Adapters();
    for (auto it = adapters.rbegin(); it != adapters.rend(); ++it) {
        const TPropAdapter& adapter = **it;
        if (SameName(adapter.Name.constData(), name) && adapter.Class
            && object.inherits(adapter.Class->className()) && (!adapter.Applies || adapter.Applies(object))) {
            ref.adapter_ = &adapter;
            ref.kind_ = adapter.Kind;
            return ref;
        }
    }
    return std::nullopt;
}

QVariant TPropRef::Read() const
{
    return adapter_ ? adapter_->Read(*object_) : meta_.read(object_);
}

bool TPropRef::Writable() const
{
    return adapter_ ? static_cast<bool>(adapter_->Write) : meta_.isWritable();
}

void TPropRef::Write(const QVariant& value) const
{
    if (adapter_) {
        if (adapter_->Write) {
            adapter_->Write(*object_, value);
        }
        return;
    }
    meta_.write(object_, value);
}
