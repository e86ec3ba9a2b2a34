#include "audio/MMMixCtl.h"

#include "platform/ResStrings.h"

#include <QStringList>

namespace {

struct LinkLock {
    explicit LinkLock(TMMControlLink& l)
        : link(l)
    {
        link.Lock();
    }
    ~LinkLock() { link.Unlock(); }
    TMMControlLink& link;
};

} // namespace

// ---- check box -------------------------------------------------------------------------------

TMMCustomMixerCheckBox::TMMCustomMixerCheckBox(QWidget* parent)
    : QCheckBox(parent)
{
    FLink.OnValueChange = [this](TMMCustomMixerControl*) { ReadState(); };
    FLink.OnControlChange = [this](TMMCustomMixerControl*) { Refresh(); };
    FLineObserver.OnNotify = [this](TMMObserver*, TMMObject* change) {
        if (dynamic_cast<TMMLineIdChange*>(change)) {
            Refresh();
        }
    };
    Refresh();
}

TMMCustomMixerCheckBox::~TMMCustomMixerCheckBox()
{
    FLink.OnValueChange = nullptr;
    FLink.OnControlChange = nullptr;
    FLineObserver.OnNotify = nullptr;
}

void TMMCustomMixerCheckBox::SetControl(TMMCustomMixerControl* Value)
{
    if (Value && Value->ControlClass() != ccList && Value->ControlClass() != ccSwitch) {
        throw EMMMixerControlsError(zv::LoadResString(zv::SInvalidControlClass));
    }
    FLink.SetControl(Value);
    Refresh();
}

void TMMCustomMixerCheckBox::SetChannel(TMMChannel Value)
{
    FChannel = Value;
    Refresh();
}

void TMMCustomMixerCheckBox::SetItem(TMMItemIndex Value)
{
    FItem = Value;
    Refresh();
}

void TMMCustomMixerCheckBox::SetItemLine(TMMAudioLine* Value)
{
    if (Value == FItemLine) {
        return;
    }
    if (FItemLine) {
        FItemLine->RemoveObserver(&FLineObserver);
        QObject::disconnect(FItemLine, &QObject::destroyed, this, nullptr);
    }
    FItemLine = Value;
    if (FItemLine) {
        FItemLine->AddObserver(&FLineObserver);
        QObject::connect(FItemLine, &QObject::destroyed, this, [this](QObject* gone) {
            if (gone == FItemLine) {
                FItemLine = nullptr;
                Refresh();
            }
        });
    }
    Refresh();
}

void TMMCustomMixerCheckBox::SetAutoCaption(bool Value)
{
    FAutoCaption = Value;
    Refresh();
}

void TMMCustomMixerCheckBox::SetShort(bool Value)
{
    FShort = Value;
    Refresh();
}

void TMMCustomMixerCheckBox::SetEnabled(bool Value)
{
    FEnabled = Value;
    Refresh();
}

void TMMCustomMixerCheckBox::Refresh()
{
    TMMCustomMixerControl* control = FLink.Control();
    if (!control) {
        setEnabled(false);
        return;
    }
    if (FItemLine) {
        FItem = control->ItemOfLine(FItemLine);
    }
    const bool enabled = FEnabled && IsValidForItem(control, FItem) && control->IsEnabled();
    setEnabled(enabled);
    if (enabled && FAutoCaption) {
        const TMMControlInfo& info = control->ControlInfo();
        QString caption = FItem != NoItem ? control->ItemInfo(FItem).Name
            : FShort                      ? info.ShortName
                                          : info.Name;
        // A name from the hardware is shown as it is, never read as a shortcut mark.
        setText(caption.replace(QLatin1Char('&'), QLatin1String("&&")));
    }
    ReadState();
}

void TMMCustomMixerCheckBox::ReadState()
{
    TMMCustomMixerControl* control = FLink.Control();
    if (!IsValidForItem(control, FItem)) {
        return;
    }
    LinkLock lock(FLink);
    setChecked(control->GetItemBool(FChannel, FItem));
}

void TMMCustomMixerCheckBox::nextCheckState()
{
    QCheckBox::nextCheckState();
    FShownChecked = isChecked();
    Click();
}

void TMMCustomMixerCheckBox::checkStateSet()
{
    QCheckBox::checkStateSet();
    // The program set the tick: a change is a click, as the user's is.
    if (isChecked() != FShownChecked) {
        FShownChecked = isChecked();
        Click();
    }
}

void TMMCustomMixerCheckBox::Click()
{
    if (!FLink.IsLocked()) {
        LinkLock lock(FLink);
        TMMCustomMixerControl* control = FLink.Control();
        if (control && isEnabled() && IsValidForItem(control, FItem)) {
            control->SetItemBool(FChannel, FItem, isChecked());
        } else {
            Refresh();
        }
    }
    if (OnClick) {
        OnClick(this);
    }
}

// ---- device combo box ------------------------------------------------------------------------

TMMCustomDeviceComboBox::TMMCustomDeviceComboBox(QWidget* parent)
    : QComboBox(parent)
{
    FDeviceObserver.OnNotify = [this](TMMObserver*, TMMObject*) { Refresh(); };
    QObject::connect(this, &QComboBox::activated, this, [this](int) { Change(); });
    Refresh();
}

TMMCustomDeviceComboBox::~TMMCustomDeviceComboBox()
{
    FDeviceObserver.OnNotify = nullptr;
}

void TMMCustomDeviceComboBox::SetDevice(TMMCustomAudioDevice* Value)
{
    if (Value != FDevice) {
        if (FDevice) {
            FDevice->RemoveObserver(&FDeviceObserver);
            QObject::disconnect(FDevice, &QObject::destroyed, this, nullptr);
        }
        FDevice = Value;
        if (FDevice) {
            FDevice->AddObserver(&FDeviceObserver);
            QObject::connect(FDevice, &QObject::destroyed, this, [this](QObject* gone) {
                if (gone == FDevice) {
                    FDevice = nullptr;
                    Refresh();
                }
            });
        }
    }
    Refresh();
}

void TMMCustomDeviceComboBox::SetIncludeMapper(bool Value)
{
    FIncludeMapper = Value;
    Refresh();
}

void TMMCustomDeviceComboBox::SetEnabled(bool Value)
{
    FEnabled = Value;
    Refresh();
}

bool TMMCustomDeviceComboBox::MapperListed() const
{
    return FDevice && FIncludeMapper && FDevice->Mapper();
}

void TMMCustomDeviceComboBox::Refresh()
{
    if (FChanging) {
        return;
    }
    clear();
    if (!FDevice) {
        setEnabled(false);
        return;
    }
    QStringList names;
    FDevice->GetNames(names, FIncludeMapper);
    addItems(names);
    int index;
    if (MapperListed()) {
        index = FDevice->DeviceId() == MapperId ? 0 : FDevice->DeviceId() + 1;
    } else {
        index = FDevice->DeviceId();
    }
    setCurrentIndex(index >= 0 && index < count() ? index : -1);
    setEnabled(FEnabled && count() > 0);
}

void TMMCustomDeviceComboBox::Change()
{
    if (OnChange) {
        OnChange(this);
    }
    FChanging = true;
    struct Resume {
        bool& flag;
        ~Resume() { flag = false; }
    } resume { FChanging };
    const int index = currentIndex();
    if (!FDevice || index < 0) {
        return;
    }
    TMMDeviceId id;
    if (MapperListed()) {
        id = index == 0 ? MapperId : index - 1;
    } else {
        id = index;
    }
    FDevice->SetDeviceId(id);
}
