#pragma once

// Small language files made in memory: a header with any magic and list, string resources with any
// columns, window resources with any entries, and the module around them.

#include "tools/lcfbuild/LcfBuild.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <filesystem>
#include <gtest/gtest.h>

namespace lcftest {

using zv::lcf::TResource;

inline void Append32(QByteArray& bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

inline QByteArray Header(const QByteArray& magic, quint32 flags, const std::vector<quint32>& lcids,
    const std::vector<quint32>& codePages = {})
{
    QByteArray bytes = magic;
    Append32(bytes, flags);
    Append32(bytes, static_cast<quint32>(lcids.size()));
    for (quint32 id : lcids) {
        Append32(bytes, id);
    }
    for (quint32 cp : codePages) {
        Append32(bytes, cp);
    }
    return bytes;
}

inline std::optional<QString> T(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A file in a temporary folder, removed with the fixture.
class TempFiles {
public:
    std::filesystem::path Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path.toStdString();
    }
    std::filesystem::path WriteModule(const QString& name, const std::vector<TResource>& resources)
    {
        return Write(name, zv::lcf::BuildResourceModule(resources));
    }
    std::filesystem::path WriteLanguages(const QString& name, const zv::lcf::TLcfContent& content)
    {
        return WriteModule(name, zv::lcf::LanguageResources(content));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
};

} // namespace lcftest
