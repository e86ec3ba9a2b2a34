#pragma once

// Language files and translation at run time. The user interface is built in Portuguese; a language
// file beside the program (a resource module, read as data) holds any number of languages, texts for
// the named components of each window and texts for the built-in resource strings.
//
// One language is open at a time for the whole process (`TLcf`): while it is, every resource string
// goes through `LookupResString` (`TProc`). `TranslateForm` applies it to one window: the window
// resources of its classes are collected as `TProps` of `TProp` entries and each entry's property path
// is walked over the Qt meta-object properties of the component it names.
//
// Component-style property names (Caption, Hint, Items, ...) that a class has no Q_PROPERTY for are
// given to the walk by property adapters (`RegisterPropAdapter`); the windows register theirs for the
// Qt widgets (station/LcWidgets.h).
//
// Threads: opening, closing and translating run on the user-interface thread; `LookupResString` may
// run on any thread (it reads the open language's data, which no one changes while it is open).

#include "platform/Exception.h"
#include "platform/PeResources.h"

#include <QByteArray>
#include <QMetaProperty>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

// A window's translation that cannot go on: a path index that is not a decimal number, or an index in
// angle brackets on a property that is not a collection.
ZV_DECLARE_EXCEPTION(ELcfError, Exception);

// Called with each locale id of a language file's header, in order; answers false to stop.
using TLanguageEnumProc = bool (*)(std::uint32_t lcid, void* context);

// What OpenLanguage answers.
enum TOpenLanguageResult : int {
    olNoFile = -1, // not a resource module, no header resource, a short header or a wrong magic
    olNoLanguage = 0, // a valid header without the id
    olOpened = 1,
};

// The open language: the file's data, the language's list index, its column among the string
// resources and its ANSI code page. Shared with resource-string look-ups on other threads.
struct TLcfLanguage;

// The redirection of the resource strings to the open language: installed while it lives.
class TProc {
public:
    explicit TProc(std::shared_ptr<const TLcfLanguage> language);
    ~TProc();
    TProc(const TProc&) = delete;
    TProc& operator=(const TProc&) = delete;
};

// The process's one open language file.
class TLcf {
public:
    static TLcf& Instance();

    // Closes the open language, reads the file's header, calls `proc` with its ids (until it answers
    // false), then opens the language `lcid` when the header has it.
    TOpenLanguageResult Open(
        const std::filesystem::path& file, std::uint32_t lcid, TLanguageEnumProc proc, void* context);
    // The same on a module already read.
    TOpenLanguageResult Open(
        zv::TResourceModule module, std::uint32_t lcid, TLanguageEnumProc proc, void* context);
    // Undoes the redirection of the resource strings and releases the file.
    void Close();

    bool IsOpen() const { return language_ != nullptr; }
    // Of the open language; -1 or 0 when none is open.
    std::uint32_t Lcid() const;
    int LanguageIndex() const;
    int StringColumn() const;
    std::uint32_t CodePage() const;
    // The raw-data resource `name` of the open file.
    std::optional<QByteArray> Resource(const QString& name) const;

private:
    std::shared_ptr<const TLcfLanguage> language_;
    std::unique_ptr<TProc> proc_;
};

// The Part's operations on the process's TLcf.
int OpenLanguage(const std::filesystem::path& file, std::uint32_t lcid, TLanguageEnumProc proc = nullptr,
    void* context = nullptr);
void CloseLanguage();
// Applies the open language to one window (a QObject whose named descendants are its components);
// nothing when no language is open. Raises ELcfError as said above.
void TranslateForm(QObject& window);
// The open language's text for a resource string id, in its code page; else the built-in text.
QString LookupResString(int id);

// One entry of a window resource that has a text for the open language.
struct TProp {
    QByteArray Key; // component name, "-", property path (and maybe a further "-" and anything)
    QString Text;
};

// The entries of a window for the open language, in the order they are applied: resources of the
// most basic class first; within a resource, the last entry first.
class TProps {
public:
    // Collects the entries for `window` from the open language; empty when its own class has none.
    static TProps Collect(const QObject& window);
    std::vector<TProp> Items;
};

// --- properties by component-style names

enum class TPropKind { Text, StringList, Object, Collection, Other };

// A property of a class reached through functions, for a name the class has no Q_PROPERTY for.
struct TPropAdapter {
    const QMetaObject* Class = nullptr; // applies to this class and the classes derived from it
    QByteArray Name; // as the language files write it, e.g. "Caption"; matched without letter case
    TPropKind Kind = TPropKind::Text;
    // Whether it applies to this object (null: always).
    std::function<bool(const QObject&)> Applies;
    std::function<QVariant(const QObject&)> Read;
    std::function<void(QObject&, const QVariant&)> Write; // null: read-only
};
// Adapters registered later are tried first.
void RegisterPropAdapter(TPropAdapter adapter);

// A property found by name: a Q_PROPERTY of the object's class (letter case ignored), else an adapter.
class TPropRef {
public:
    static std::optional<TPropRef> Find(QObject& object, QByteArrayView name);
    TPropKind Kind() const { return kind_; }
    QVariant Read() const;
    bool Writable() const;
    void Write(const QVariant& value) const;

private:
    QObject* object_ = nullptr;
    QMetaProperty meta_;
    const TPropAdapter* adapter_ = nullptr;
    TPropKind kind_ = TPropKind::Other;
};
