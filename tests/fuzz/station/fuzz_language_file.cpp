// Language files on arbitrary bytes: the resource-module reader, the header, the string resources and
// the window resources applied to a small object tree. No crash, no endless loop; a damaged file is an
// error or an ignored entry, and a bad path index an ELcfError.
#include "platform/PeResources.h"
#include "platform/ResStrings.h"
#include "station/LcUnit.h"

#include <QObject>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace {

// Every kind of property a path can walk through.
class Node : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption MEMBER caption)
    Q_PROPERTY(QStringList Items MEMBER items)
    Q_PROPERTY(QObject* Child MEMBER child)
    Q_PROPERTY(QObjectList Columns MEMBER columns)
    Q_PROPERTY(int Tag MEMBER tag)
public:
    QString caption = QStringLiteral("a");
    QStringList items { QStringLiteral("x"), QStringLiteral("y") };
    QObject* child = nullptr;
    QObjectList columns;
    int tag = 0;
};

bool Count(std::uint32_t, void* context)
{
    return ++*static_cast<int*>(context) < 100;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::optional<zv::TResourceModule> module;
    try {
        module = zv::TResourceModule::FromBytes(
            QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
            QStringLiteral("fuzz.lcf"));
    } catch (const zv::EResourceModuleError&) {
        return 0;
    }
    for (const QString& name : module->RcDataNames()) {
        (void)module->RcData(name);
    }
    // The first language of the header, whatever it is.
    std::uint32_t lcid = 1046;
    if (const auto header = module->RcData(u"LCHEADER"); header && header->size() >= 20) {
        lcid = static_cast<std::uint8_t>(header->at(16)) | static_cast<std::uint8_t>(header->at(17)) << 8;
    }
    int calls = 0;
    if (TLcf::Instance().Open(std::move(*module), lcid, Count, &calls) == olOpened) {
        for (int id : { 28060, 29900, 0, 65535 }) {
            (void)zv::LoadResString(id);
        }
        Node window;
        window.setObjectName(QStringLiteral("Frm"));
        Node* item = new Node;
        item->setParent(&window);
        item->setObjectName(QStringLiteral("Item"));
        window.child = item;
        window.columns = { item, nullptr };
        try {
            TranslateForm(window);
        } catch (const ELcfError&) {
        }
    }
    CloseLanguage();
    return 0;
}

#include "fuzz_language_file.moc"
