#pragma once

// The language file builder: translation sources (gettext PO, one file per language) into a resource
// module (a PE DLL whose only section holds raw-data resources) that the program reads beside itself.
//
// In a source, msgctxt says where a text goes: a decimal number is a resource string's id ("28060");
// "Class|Key" is an entry of a window resource ("TFrm_ZoVeva|BConfig-Hint"). msgid is the program's
// built-in text, msgstr the translation; an empty or fuzzy msgstr is no text.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace zv::lcf {

// A source that cannot be read or used; the message names the file.
class ELcfSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Texts of one key, one per language in list order; nothing where a language has none.
using TTexts = std::vector<std::optional<QString>>;

struct TWindowEntry {
    QByteArray Key; // component-property path, ANSI
    TTexts Texts;
};

struct TStringEntry {
    QString Leading; // the leading column's text, when the header says there is one
    TTexts Texts;
};

struct TLcfContent {
    std::vector<std::uint32_t> Lcids; // list order
    // "LCHEADE2": the header also holds each language's ANSI code page.
    bool Lcheade2 = false;
    std::vector<std::uint32_t> CodePages; // with Lcheade2; empty: each locale's default
    // Flags bit 0: string resources have one leading column before the first language.
    bool LeadingColumn = false;
    std::map<int, TStringEntry> Strings; // by id
    // By class name as the program spells it; entries in source order.
    std::vector<std::pair<QString, std::vector<TWindowEntry>>> Windows;
};

// One resource of a module: name and bytes.
struct TResource {
    QString Name;
    QByteArray Data;
};

// Reads the sources, in list order. Raises ELcfSourceError.
TLcfContent ReadPoSources(const QStringList& files);

// One source's entries: msgctxt -> (msgid, msgstr or nothing), and its Language header.
struct TPoSource {
    QString Language;
    struct Message {
        QString Context;
        QString Source;
        std::optional<QString> Translation;
    };
    std::vector<Message> Messages;
};
TPoSource ReadPoSource(const QString& file);

// The resources of a language file: the header, the string resources and the window resources.
std::vector<TResource> LanguageResources(const TLcfContent& content);

// A PE32+ DLL with one ".rsrc" section that holds the raw-data resources (type 10) under their
// names (upper-cased), each in the neutral language.
QByteArray BuildResourceModule(const std::vector<TResource>& resources);

// The same resources as a resource script for other tools: `directory`/lcf.rc and one data file per
// resource beside it. Raises ELcfSourceError when a file cannot be written.
void WriteResourceScript(const std::vector<TResource>& resources, const QString& directory);

} // namespace zv::lcf
