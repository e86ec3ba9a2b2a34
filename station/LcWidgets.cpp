#include "station/LcWidgets.h"

#include "platform/Locales.h"
#include "platform/ResStrings.h"
#include "station/LcUnit.h"
#include "station/StationStrings.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace zv {

namespace {

// A Text adapter onto the Qt property `property`.
TPropAdapter Alias(const QMetaObject& cls, const char* name, const char* property,
    std::function<bool(const QObject&)> applies = {})
{
    const QByteArray target(property);
    return TPropAdapter { &cls, QByteArray(name), TPropKind::Text, std::move(applies),
        [target](const QObject& o) { return o.property(target.constData()); },
        [target](QObject& o, const QVariant& v) { o.setProperty(target.constData(), v); } };
}

} // namespace

void RegisterWidgetProps()
{
    static const bool registered = [] {
        RegisterPropAdapter(Alias(QWidget::staticMetaObject, "Caption", "windowTitle",
            [](const QObject& o) { return static_cast<const QWidget&>(o).isWindow(); }));
        RegisterPropAdapter(Alias(QLabel::staticMetaObject, "Caption", "text"));
        RegisterPropAdapter(Alias(QAbstractButton::staticMetaObject, "Caption", "text"));
        RegisterPropAdapter(Alias(QAction::staticMetaObject, "Caption", "text"));
        RegisterPropAdapter(Alias(QGroupBox::staticMetaObject, "Caption", "title"));
        RegisterPropAdapter(Alias(QWidget::staticMetaObject, "Hint", "toolTip"));
        RegisterPropAdapter(TPropAdapter { &QComboBox::staticMetaObject, "Items", TPropKind::StringList, {},
            [](const QObject& o) {
                const auto& box = static_cast<const QComboBox&>(o);
                QStringList lines;
                for (int i = 0; i < box.count(); ++i) {
                    lines << box.itemText(i);
                }
                return QVariant(lines);
            },
            [](QObject& o, const QVariant& v) {
                // Lines are replaced in place, so each item keeps its data and the selection stays.
                auto& box = static_cast<QComboBox&>(o);
                const QStringList lines = v.toStringList();
                for (int i = 0; i < box.count() && i < lines.size(); ++i) {
                    if (box.itemText(i) != lines[i]) {
                        box.setItemText(i, lines[i]);
                    }
                }
            } });
        return true;
    }();
    (void)registered;
}

std::vector<std::pair<QByteArray, QString>> TranslatableTexts(QObject& window)
{
    RegisterWidgetProps();
    std::vector<std::pair<QByteArray, QString>> texts;
    QList<QObject*> objects { &window };
    QSet<QString> names { window.objectName().toLower() };
    for (QObject* child : window.findChildren<QObject*>()) {
        const QString name = child->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")) && !names.contains(name.toLower())) {
            names.insert(name.toLower());
            objects << child;
        }
    }
    for (QObject* object : objects) {
        const QByteArray name = object->objectName().toLatin1();
        const auto text = [&](const char* property) -> std::optional<QString> {
            const auto ref = TPropRef::Find(*object, property);
            if (!ref || ref->Kind() != TPropKind::Text) {
                return std::nullopt;
            }
            return ref->Read().toString();
        };
        // A label's or a window's text is its Caption; Text is for those that have no Caption.
        if (const auto caption = text("Caption")) {
            if (!caption->isEmpty()) {
                texts.emplace_back(name + "-Caption", *caption);
            }
        } else if (const auto plain = text("Text"); plain && !plain->isEmpty()) {
            texts.emplace_back(name + "-Text", *plain);
        }
        if (const auto hint = text("Hint"); hint && !hint->isEmpty()) {
            texts.emplace_back(name + "-Hint", *hint);
        }
        if (const auto items = TPropRef::Find(*object, "Items");
            items && items->Kind() == TPropKind::StringList) {
            const QStringList lines = items->Read().toStringList();
            for (qsizetype n = 0; n < lines.size(); ++n) {
                if (!lines[n].isEmpty()) {
                    texts.emplace_back(name + "-Items(" + QByteArray::number(n) + ").Text", lines[n]);
                }
            }
        }
    }
    return texts;
}

bool OpenSelectedLanguage(const QComboBox& list, const std::filesystem::path& file)
{
    if (list.currentIndex() < 0) {
        return false;
    }
    return OpenLanguage(file, list.currentData().toUInt()) == olOpened;
}

} // namespace zv

bool AddLanguage(std::uint32_t lcid, void* context)
{
    auto* list = static_cast<QComboBox*>(context);
    const std::optional<QString> name = zv::LocaleDisplayName(lcid);
    list->addItem(name ? *name : zv::LoadResString(zv::SUnknownLocale), QVariant::fromValue(lcid));
    return true;
}
