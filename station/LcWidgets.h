#pragma once

// The widget side of translation: the component-style property names of the Qt widgets the windows
// use, the language list's callback, and the list of a window's translatable texts.
//
// | name    | on                                     | Qt                          |
// |---------|----------------------------------------|-----------------------------|
// | Caption | a window                               | windowTitle                 |
// | Caption | QLabel, QAbstractButton, QAction       | text                        |
// | Caption | QGroupBox                              | title                       |
// | Hint    | QWidget                                | toolTip                     |
// | Items   | QComboBox                              | the item texts, a string list (lines replaced in
// place, item data kept) | | Text    | QLineEdit, ...                         | text (the Q_PROPERTY itself,
// letter case ignored) |
//
// The project's own classes declare theirs as Q_PROPERTY (the skin button's and the meter's Caption).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

class QComboBox;
class QObject;

namespace zv {

// Registers the adapters above, once.
void RegisterWidgetProps();

// Every non-empty text of the window and its named components that a language file can set, as
// language-file keys ("BConfig-Hint", "Frm_Config-Caption", "CBControle-Items(1).Text") and texts.
std::vector<std::pair<QByteArray, QString>> TranslatableTexts(QObject& window);

// Opens the language of the list's selected entry (its locale id is the entry's data); false, with
// nothing done, when no entry is selected or the file does not have that language.
bool OpenSelectedLanguage(const QComboBox& list, const std::filesystem::path& file);

} // namespace zv

// The language list's callback: appends the locale's display name ("<unknown>", the resource string,
// for an id the system does not know) tagged with the id to the combo box `context`; always goes on.
bool AddLanguage(std::uint32_t lcid, void* context);
