#pragma once

// Resource modules (PE files) read as data: the section table and the resource directory, and the
// raw-data resources (type 10) by name. Nothing of the file is ever mapped executable or run; the
// whole file is read into memory once, and every offset, size, count and name length is checked
// against it before use.

#include "platform/Exception.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>

namespace zv {

// A file that is not a resource module, or a damaged one. The message names the file and what is
// wrong with it.
ZV_DECLARE_EXCEPTION(EResourceModuleError, Exception);

class TResourceModule {
public:
    // The resource type of raw data.
    static constexpr unsigned RtRcData = 10;
    // Larger files are refused rather than read into memory.
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

    // Reads and checks the file: DOS and PE headers, section table, resource directory, and every
    // raw-data resource's name and data. Raises EResourceModuleError.
    static TResourceModule Open(const std::filesystem::path& path);
    // The same on bytes in memory; `name` stands for the file in messages.
    static TResourceModule FromBytes(QByteArray bytes, const QString& name);

    // The bytes of the raw-data resource `name` (compared without regard to ASCII letter case), in
    // whatever language the module has it; nothing when there is none.
    std::optional<QByteArray> RcData(QStringView name) const;
    // The names of the raw-data resources, in directory order. Resources named by number are left out:
    // the language files name every resource.
    QStringList RcDataNames() const;
    const QString& Name() const { return name_; }

private:
    struct Span {
        qsizetype offset = 0; // in the file
        qsizetype size = 0;
    };
    TResourceModule() = default;
    void Parse();
    [[noreturn]] void Fail(const QString& what) const;

    QString name_;
    QByteArray bytes_;
    QStringList names_; // directory order
    QHash<QString, Span> rcData_; // by upper-cased name
};

} // namespace zv
