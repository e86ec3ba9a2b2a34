#include "skin/SkWindowData.h"

#include "platform/ResStrings.h"

#include <QFile>
#include <QtEndian>

namespace zv {

namespace {

constexpr char kMagic[] = "ZVWD";
constexpr quint8 kVersion = 1;
// Deeper nesting than any window has means damage; the limit keeps recursion bounded.
constexpr int kMaxDepth = 32;

class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : FBytes(bytes)
    {
    }

    qsizetype Remaining() const { return FBytes.size() - FPos; }

    void Need(qsizetype n, const char* what) const
    {
        if (n < 0 || Remaining() < n) {
            throw ESkWindowDataError(
                zv::LoadResString(zv::SWindowDataTruncated).arg(QLatin1String(what), QString::number(FPos)));
        }
    }
    quint8 U8(const char* what)
    {
        Need(1, what);
        return static_cast<quint8>(FBytes[FPos++]);
    }
    quint32 U32(const char* what)
    {
        Need(4, what);
        const quint32 v = qFromLittleEndian<quint32>(FBytes.constData() + FPos);
        FPos += 4;
        return v;
    }
    QByteArray Bytes(qsizetype n, const char* what)
    {
        Need(n, what);
        QByteArray b = FBytes.mid(FPos, n);
        FPos += n;
        return b;
    }
    QByteArray Str(const char* what) { return Bytes(U8(what), what); }

private:
    const QByteArray& FBytes;
    qsizetype FPos = 0;
};

SkStoredObject ReadObject(Reader& r, int depth)
{
    if (depth > kMaxDepth) {
        throw ESkWindowDataError(zv::LoadResString(zv::SWindowDataTooDeep));
    }
    SkStoredObject o;
    o.Name = r.Str("component name");
    o.ClassName = r.Str("class name");
    const quint32 values = r.U32("value count");
    // Each value takes at least 5 bytes: a bound before reserving anything.
    r.Need(qsizetype(values) * 5, "values");
    o.Values.reserve(values);
    for (quint32 i = 0; i < values; ++i) {
        SkStoredValue v;
        v.Name = r.Str("value name");
        v.Data = r.Bytes(r.U32("value length"), "value");
        o.Values.push_back(std::move(v));
    }
    const quint32 children = r.U32("child count");
    r.Need(qsizetype(children) * 10, "children");
    o.Children.reserve(children);
    for (quint32 i = 0; i < children; ++i) {
        o.Children.push_back(ReadObject(r, depth + 1));
    }
    return o;
}

void PutU32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void PutStr(QByteArray& out, const QByteArray& s, const char* what)
{
    if (s.size() > 255) {
        throw ESkWindowDataError(zv::LoadResString(zv::SWindowDataNameTooLong)
                                     .arg(QLatin1String(what), QString::fromLatin1(s.left(40))));
    }
    out.append(char(s.size()));
    out.append(s);
}

void WriteObject(QByteArray& out, const SkStoredObject& o)
{
    PutStr(out, o.Name, "component name");
    PutStr(out, o.ClassName, "class name");
    PutU32(out, quint32(o.Values.size()));
    for (const SkStoredValue& v : o.Values) {
        PutStr(out, v.Name, "value name");
        PutU32(out, quint32(v.Data.size()));
        out.append(v.Data);
    }
    PutU32(out, quint32(o.Children.size()));
    for (const SkStoredObject& c : o.Children) {
        WriteObject(out, c);
    }
}

} // namespace

const QByteArray* SkStoredObject::Value(const QByteArray& name) const
{
    for (auto it = Values.rbegin(); it != Values.rend(); ++it) {
        if (it->Name == name) {
            return &it->Data;
        }
    }
    return nullptr;
}

const SkStoredObject* SkStoredObject::Child(const QByteArray& name) const
{
    for (const SkStoredObject& c : Children) {
        if (c.Name == name) {
            return &c;
        }
    }
    return nullptr;
}

const SkStoredObject& SkStoredObject::RequireChild(const QByteArray& name) const
{
    if (const SkStoredObject* c = Child(name)) {
        return *c;
    }
    throw ESkWindowDataError(zv::LoadResString(zv::SWindowDataNoComponent)
                                 .arg(QString::fromLatin1(Name), QString::fromLatin1(name)));
}

SkStoredObject ReadWindowData(const QByteArray& bytes)
{
    if (!bytes.startsWith(kMagic)) {
        throw ESkWindowDataError(zv::LoadResString(zv::SNotWindowData));
    }
    Reader r(bytes);
    r.Bytes(4, "signature");
    const quint8 version = r.U8("version");
    if (version != kVersion) {
        throw ESkWindowDataError(zv::LoadResString(zv::SWindowDataVersion).arg(version));
    }
    SkStoredObject root = ReadObject(r, 0);
    if (r.Remaining() != 0) {
        throw ESkWindowDataError(zv::LoadResString(zv::SWindowDataStrayBytes).arg(r.Remaining()));
    }
    return root;
}

QByteArray WriteWindowData(const SkStoredObject& root)
{
    QByteArray out(kMagic);
    out.append(char(kVersion));
    WriteObject(out, root);
    return out;
}

SkStoredObject LoadWindowData(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw ESkWindowDataError(zv::LoadResString(zv::SCannotReadWindowData).arg(path, f.errorString()));
    }
    try {
        return ReadWindowData(f.readAll());
    } catch (const ESkWindowDataError& e) {
        throw ESkWindowDataError(QStringLiteral("%1: %2").arg(path, e.Message()));
    }
}

} // namespace zv
