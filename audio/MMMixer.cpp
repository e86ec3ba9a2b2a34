#include "audio/MMMixer.h"

#include "platform/AppError.h"
#include "platform/ResStrings.h"

#include <algorithm>
#include <cmath>

using zv::LoadResString;

// ---- type tables -----------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kComponentCodes[ComponentTypeCount] = {
    1, 5, 2, 3, 4, 6, 0, 8, 7, // destinations
    4106, 4105, 4101, 4097, 4098, 4099, 4103, 4100, 4102, 4096, 4104, // sources
};

constexpr std::uint32_t kControlCodes[ControlTypeCount] = {
    0, // ctCustom
    0x50030002, 0x50030004, 0x50030000, 0x50030003, 0x50030001, // bass, equalizer, fader, treble, volume
    0x71010001, 0x71010000, 0x70010001, 0x70010000, // mixer, multiple select, mux, single select
    0x10010000, 0x10020001, 0x10020000, 0x10030000, // meters
    0x30040000, 0x30050000, 0x30020000, 0x30030000, // decibels, percent, signed, unsigned
    0x40020001, 0x40020002, 0x40020000, // pan, qsound pan, slider
    0x20010000, 0x21010000, 0x20010004, 0x20010003, 0x20010002, 0x20010001, 0x20010005, // switches
    0x60030000, 0x61030000, // times
};

} // namespace

std::uint32_t ComponentTypeCode(TMMComponentType Type)
{
    return kComponentCodes[Type];
}

TMMComponentType ComponentTypeOf(std::uint32_t Code)
{
    for (int i = 0; i < ComponentTypeCount; ++i) {
        if (kComponentCodes[i] == Code) {
            return TMMComponentType(i);
        }
    }
    throw EMMMixerServiceError(LoadResString(zv::SUndefinedComponentType));
}

std::uint32_t ControlTypeCode(TMMControlType Type)
{
    return kControlCodes[Type];
}

TMMControlType ControlTypeOf(std::uint32_t Code)
{
    for (int i = 0; i < ControlTypeCount; ++i) {
        if (kControlCodes[i] == Code) {
            return TMMControlType(i);
        }
    }
    return ctCustom;
}

TMMControlClass ControlClassOf(std::uint32_t Code)
{
    switch (Code >> 28) {
    case 0:
        return ccCustom;
    case 1:
        return ccMeter;
    case 2:
        return ccSwitch;
    case 3:
        return ccNumber;
    case 4:
        return ccSlider;
    case 5:
        return ccFader;
    case 6:
        return ccTime;
    case 7:
        return ccList;
    default:
        throw EMMMixerServiceError(LoadResString(zv::SUndefinedControlClass));
    }
}

namespace {

TMMLineInfo LineInfoOf(const TMixerLine& l)
{
    TMMLineInfo info;
    if (l.fdwLine & zv::mixer::LineActive) {
        info.Flags |= cfActive;
    }
    if (l.fdwLine & zv::mixer::LineDisconnected) {
        info.Flags |= cfDisconnected;
    }
    if (l.fdwLine & zv::mixer::LineSource) {
        info.Flags |= cfSource;
    }
    info.Channels = int(l.cChannels);
    info.Connections = int(l.cConnections);
    info.Controls = int(l.cControls);
    info.ShortName = MixerText(l.szShortName, sizeof l.szShortName);
    info.Name = MixerText(l.szName, sizeof l.szName);
    return info;
}

TMMControlInfo ControlInfoOf(const TMixerControl& c)
{
    TMMControlInfo info;
    if (c.fdwControl & zv::mixer::ControlDisabled) {
        info.Flags |= cfDisabled;
    }
    if (c.fdwControl & zv::mixer::ControlMultiple) {
        info.Flags |= cfMultiple;
    }
    if (c.fdwControl & zv::mixer::ControlUniform) {
        info.Flags |= cfUniform;
    }
    info.MultipleItems = TMMItemIndex(c.cMultipleItems);
    info.ShortName = MixerText(c.szShortName, sizeof c.szShortName);
    info.Name = MixerText(c.szName, sizeof c.szName);
    info.MinValue = c.lMinimum;
    info.MaxValue = c.lMaximum;
    info.Steps = c.cSteps;
    return info;
}

std::uint32_t TargetTypeOf(TMMDeviceKind kind)
{
    switch (kind) {
    case dkMidiIn:
        return zv::mixer::TargetMidiIn;
    case dkMidiOut:
        return zv::mixer::TargetMidiOut;
    case dkWaveIn:
        return zv::mixer::TargetWaveIn;
    case dkWaveOut:
        return zv::mixer::TargetWaveOut;
    case dkAux:
        return zv::mixer::TargetAux;
    case dkMixer:
        break;
    }
    return zv::mixer::TargetUndefined;
}

// Clears a component reference when the component goes away, then runs `then`.
template <typename T, typename F> void FollowLife(QObject* self, T*& ref, F then)
{
    if (!ref) {
        return;
    }
    QObject::connect(ref, &QObject::destroyed, self, [&ref, then](QObject* gone) {
        if (static_cast<QObject*>(ref) != gone) {
            return;
        }
        ref = nullptr;
        then();
    });
}

void Unfollow(QObject* self, QObject* ref)
{
    if (ref) {
        QObject::disconnect(ref, &QObject::destroyed, self, nullptr);
    }
}

} // namespace

// ---- the mixer device ------------------------------------------------------------------------

// Receives the open mixer's reports; only those of the handle it was made for reach the device.
class TMMMixerWindow : public QObject {
public:
    explicit TMMMixerWindow(TMMMixerDevice& Owner)
        : FOwner(Owner)
    {
    }
    TMMMixerDevice& FOwner;
};

TMMMixerDevice::TMMMixerDevice(QObject* AOwner, zv::MixerOps* Mixer)
    : TMMCustomAudioDevice(dkMixer, AOwner, nullptr, Mixer)
{
    FDeviceObserver.OnNotify = [this](TMMObserver*, TMMObject*) { DeviceChanged(); };
}

TMMMixerDevice::~TMMMixerDevice()
{
    MarkDestroying();
    try {
        CloseDevice();
    } catch (const std::exception&) {
        // Going anyway; the handle is released as far as the service lets it.
    }
}

int TMMMixerDevice::Destinations() const
{
    if (!IsValid()) {
        return 0;
    }
    TMixerCaps caps;
    if (PlatformCaps(FDeviceId, caps) != 0) {
        return 0;
    }
    return int(caps.cDestinations);
}

void TMMMixerDevice::SetDevice(TMMCustomAudioDevice* Value)
{
    if (qobject_cast<TMMMixerDevice*>(Value)) {
        throw EMMMixerDeviceError(LoadResString(zv::SMixerReferencesMixer));
    }
    if (Value == FDevice) {
        return;
    }
    const bool wasActive = FActive;
    CloseDevice();
    if (FDevice) {
        FDevice->RemoveObserver(&FDeviceObserver);
        Unfollow(this, FDevice);
    }
    FDevice = Value;
    if (FDevice) {
        FDevice->AddObserver(&FDeviceObserver);
        FollowLife(this, FDevice, [] {});
    }
    DeviceChanged();
    if (wasActive) {
        SetActive(true);
    }
}

void TMMMixerDevice::Callback(
    zv::MixerHandle Handle, zv::MixerNotification Message, void* Instance, std::int64_t Param)
{
    auto* window = static_cast<TMMMixerWindow*>(Instance);
    TMMMixerDevice& device = window->FOwner;
    if (Handle != device.FHandle || device.FWindow != window) {
        return; // a report of a mixer closed meanwhile
    }
    try {
        device.Notification(Message, Param);
    } catch (const std::exception& error) {
        zv::HandleApplicationError(error);
    }
}

void TMMMixerDevice::Notification(zv::MixerNotification Message, std::int64_t Param)
{
    switch (Message) {
    case zv::MixerNotification::LineChange:
        LineChanged(TMMLineId(Param));
        break;
    case zv::MixerNotification::ControlChange: {
        TMixerControl control {};
        std::uint32_t line = 0;
        if (GetControl(std::uint32_t(Param), control, &line)) {
            ControlChanged(TMMLineId(line), TMMControlId(Param));
        }
        break;
    }
    case zv::MixerNotification::Failed: {
        // The card went away (or its sound server ended) while open: let go of it, let the lines
        // look again (they find nothing now, so the widgets disable themselves), and tell once.
        const int code = int(Param);
        const QString name = FDeviceCaps.ProductName();
        try {
            CloseDevice();
        } catch (const std::exception&) {
            // The handle is dead anyway.
        }
        // Once a card is gone the others may move up into its id: this device then stands for no
        // mixer, rather than for another card, until one is chosen again.
        TMixerCaps caps {};
        if (IsValid()
            && (PlatformCaps(FDeviceId, caps) != 0 || MixerText(caps.szPname, sizeof caps.szPname) != name)) {
            FDeviceId = InvalidId;
            FDeviceCaps.Clear();
        }
        NotifyChange();
        Check(code);
        break;
    }
    }
}

void TMMMixerDevice::OpenDevice()
{
    if (!IsValid()) {
        throw EMMMixerDeviceError(LoadResString(zv::SDeviceNotValid));
    }
    FWindow = new TMMMixerWindow(*this);
    zv::MixerHandle handle = 0;
    if (MixerService().Open(&handle, FDeviceId, &TMMMixerDevice::Callback, FWindow) != 0) {
        // Lines and controls still work through the device id, without change reports.
        delete FWindow;
        FWindow = nullptr;
        return;
    }
    FHandle = handle;
    FActive = true;
}

void TMMMixerDevice::CloseDevice()
{
    const zv::MixerHandle handle = FHandle;
    FHandle = 0;
    FActive = false;
    delete FWindow;
    FWindow = nullptr;
    if (handle) {
        Check(MixerService().Close(handle));
    }
}

void TMMMixerDevice::DeviceChanged()
{
    if (FDevice) {
        SetDeviceId(FDevice->MixerId());
    }
    TMMCustomAudioDevice::DeviceChanged();
}

void TMMMixerDevice::NotifyChange()
{
    TMMDeviceChange change;
    FLines.Notify(&change);
    TMMCustomAudioDevice::NotifyChange();
}

void TMMMixerDevice::LineChanged(TMMLineId LineId)
{
    TMMLineChange change(LineId);
    FLines.Notify(&change);
    if (ZoVevaChange && !InState(csDestroying)) {
        ZoVevaChange(this, LineId);
    }
}

void TMMMixerDevice::ControlChanged(TMMLineId LineId, TMMControlId ControlId)
{
    TMMControlChange change(LineId, ControlId);
    FLines.Notify(&change);
    if (OnControlChange && !InState(csDestroying)) {
        OnControlChange(this, LineId, ControlId);
    }
}

zv::MixerObject TMMMixerDevice::Object()
{
    if (FHandle) {
        int id = FDeviceId;
        if (MixerService().GetID(FHandle, &id) == 0 && id != FDeviceId) {
            // The open mixer says it is another device (the mapper chose one): follow it.
            FDeviceId = id;
            TMMCustomAudioDevice::DeviceChanged();
        }
        return zv::MixerObject { FHandle, FDeviceId };
    }
    return zv::MixerObject { 0, FDeviceId };
}

bool TMMMixerDevice::Found(int Code) const
{
    using namespace zv::mixer;
    if (Code == NoError) {
        return true;
    }
    if (Code == InvalidLine || Code == InvalidControl || Code == NoDriver || Code == InvalidParam
        || Code == BadDeviceId) {
        return false;
    }
    Check(Code);
    return false;
}

bool TMMMixerDevice::GetLineInfo(TMixerLine& Line, zv::MixerLineQuery Query)
{
    return Found(MixerService().GetLineInfo(Object(), Line, Query));
}

bool TMMMixerDevice::GetLineControl(std::uint32_t LineId, std::uint32_t Type, TMixerControl& Control)
{
    return Found(MixerService().GetLineControl(Object(), LineId, Type, Control));
}

bool TMMMixerDevice::GetControl(std::uint32_t ControlId, TMixerControl& Control, std::uint32_t* LineId)
{
    return Found(MixerService().GetControl(Object(), ControlId, Control, LineId));
}

void TMMMixerDevice::GetControlValues(std::uint32_t ControlId, int Channels, int Items, std::int32_t* Values)
{
    Check(MixerService().GetControlValues(Object(), ControlId, Channels, Items, Values));
}

void TMMMixerDevice::SetControlValues(
    std::uint32_t ControlId, int Channels, int Items, const std::int32_t* Values)
{
    Check(MixerService().SetControlValues(Object(), ControlId, Channels, Items, Values));
}

void TMMMixerDevice::GetListTexts(std::uint32_t ControlId, int Items, TMixerListText* Texts)
{
    Check(MixerService().GetListTexts(Object(), ControlId, Items, Texts));
}

// ---- lines -----------------------------------------------------------------------------------

TMMAudioLine::TMMAudioLine(QObject* AOwner)
    : TMMNonVisualComponent(AOwner)
{
    FMixerObserver.OnNotify = [this](TMMObserver*, TMMObject* change) { MixerNotify(change); };
    FTargetObserver.OnNotify = [this](TMMObserver*, TMMObject*) { Refresh(); };
    FDestObserver.OnNotify = [this](TMMObserver*, TMMObject* change) {
        if (dynamic_cast<TMMLineIdChange*>(change)) {
            Refresh();
        }
    };
}

TMMAudioLine::~TMMAudioLine()
{
    MarkDestroying();
}

bool TMMAudioLine::MixerValid() const
{
    return FMixer && FMixer->IsValid();
}

void TMMAudioLine::SetMixer(TMMMixerDevice* Value)
{
    if (Value == FMixer) {
        return;
    }
    if (FMixer) {
        FMixer->RemoveLineObserver(&FMixerObserver);
        Unfollow(this, FMixer);
    }
    FMixer = Value;
    if (FMixer) {
        FMixer->AddLineObserver(&FMixerObserver);
        FollowLife(this, FMixer, [this] { Refresh(); });
    }
    Refresh();
}

void TMMAudioLine::SetTarget(TMMCustomAudioDevice* Value)
{
    if (qobject_cast<TMMMixerDevice*>(Value)) {
        throw EMMMixerDeviceError(LoadResString(zv::STargetIsMixer));
    }
    if (Value != FTarget) {
        if (FTarget) {
            FTarget->RemoveObserver(&FTargetObserver);
            Unfollow(this, FTarget);
        }
        FTarget = Value;
        if (FTarget) {
            FTarget->AddObserver(&FTargetObserver);
            FollowLife(this, FTarget, [this] { Refresh(); });
        }
    }
    FLookup = TLookup::ByTarget;
    Refresh();
}

void TMMAudioLine::SetDestLine(QObject* Value)
{
    auto* line = qobject_cast<TMMAudioLine*>(Value);
    if (Value && !line) {
        throw EMMMixerDeviceError(LoadResString(zv::SDestLineNotLine));
    }
    // A line that is (or leads to) its own destination would refresh itself without end.
    for (TMMAudioLine* l = line; l; l = l->FDestLine) {
        if (l == this) {
            throw EMMMixerDeviceError(LoadResString(zv::SDestLineLoop));
        }
    }
    if (line == FDestLine) {
        return;
    }
    if (FDestLine) {
        FDestLine->RemoveObserver(&FDestObserver);
        Unfollow(this, FDestLine);
    }
    FDestLine = line;
    if (FDestLine) {
        FDestLine->AddObserver(&FDestObserver);
        FollowLife(this, FDestLine, [this] { Refresh(); });
    }
    Refresh();
}

void TMMAudioLine::SetLineId(TMMLineId Value)
{
    FLineId = Value;
    FLookup = TLookup::ById;
    Refresh();
}

void TMMAudioLine::SetComponentType(TMMComponentType Value)
{
    FComponentType = Value;
    FLookup = TLookup::ByComponentType;
    Refresh();
}

void TMMAudioLine::Loaded()
{
    Refresh();
}

bool TMMAudioLine::LookUp(TMMMixerDevice* OnMixer, TMixerLine& Answer)
{
    Answer = {};
    switch (FLookup) {
    case TLookup::ByComponentType:
        Answer.dwComponentType = ComponentTypeCode(FComponentType);
        return OnMixer->GetLineInfo(Answer, zv::MixerLineQuery::ComponentType);
    case TLookup::ByTarget: {
        if (!FTarget || !FTarget->IsValid()) {
            return false;
        }
        const TMMDeviceCaps& caps = FTarget->DeviceCaps();
        TMixerLineTarget& t = Answer.Target;
        if (FTarget->Kind() == dkMixer) {
            return false;
        }
        t.dwType = TargetTypeOf(FTarget->Kind());
        t.dwDeviceID = std::uint32_t(FTarget->DeviceId());
        t.wMid = caps.ManufacturerId();
        t.wPid = caps.ProductId();
        t.vDriverVersion = std::uint32_t(caps.VerMajor()) << 8 | caps.VerMinor();
        zv::CopyMixerName(caps.ProductName().toStdString(), t.szPname, sizeof t.szPname);
        return OnMixer->GetLineInfo(Answer, zv::MixerLineQuery::TargetType);
    }
    case TLookup::ById:
        if (FLineId == badLineId) {
            return false;
        }
        Answer.dwLineID = std::uint32_t(FLineId);
        return OnMixer->GetLineInfo(Answer, zv::MixerLineQuery::LineId);
    }
    return false;
}

bool TMMAudioLine::MatchesTarget(const TMixerLine& Line) const
{
    // Target type of the device's kind, manufacturer, product, driver version and name.
    if (!FTarget) {
        return false;
    }
    const TMMDeviceCaps& caps = FTarget->DeviceCaps();
    return Line.Target.dwType == TargetTypeOf(FTarget->Kind()) && Line.Target.wMid == caps.ManufacturerId()
        && Line.Target.wPid == caps.ProductId()
        && (Line.Target.vDriverVersion & 0xFFFF) == (std::uint32_t(caps.VerMajor()) * 256 + caps.VerMinor())
        && MixerText(Line.Target.szPname, sizeof Line.Target.szPname) == caps.ProductName();
}

bool TMMAudioLine::FindSource(TMMAudioLine* Source, TMixerLine* Answer)
{
    if (InState(csLoading) || !MixerValid() || FLineId == badLineId || FDestIndex == -1 || !Source) {
        return false;
    }
    TMixerLine found;
    if (!Source->LookUp(FMixer, found)) {
        return false;
    }
    // The line the source's own key finds is already one of this destination's sources. (Only a
    // source: the destination itself is no source of its own, whatever key finds it.)
    if ((found.fdwLine & zv::mixer::LineSource) && found.dwDestination == std::uint32_t(FLineId)) {
        *Answer = found;
        return true;
    }
    if (Source->FLookup == TLookup::ById) {
        return false;
    }
    for (int s = 0; s < FLineInfo.Connections; ++s) {
        TMixerLine line {};
        line.dwDestination = std::uint32_t(FDestIndex);
        line.dwSource = std::uint32_t(s);
        if (!FMixer->GetLineInfo(line, zv::MixerLineQuery::Source)) {
            continue;
        }
        const bool match = Source->FLookup == TLookup::ByComponentType
            ? line.dwComponentType == ComponentTypeCode(Source->FComponentType)
            : Source->MatchesTarget(line);
        if (match) {
            *Answer = line;
            return true;
        }
    }
    return false;
}

void TMMAudioLine::Refresh()
{
    if (InState(csLoading)) {
        return;
    }
    FDestIndex = -1;
    TMixerLine answer {};
    bool found = false;
    if (MixerValid()) {
        if (FDestLine) {
            found = FDestLine->Mixer() == FMixer && FDestLine->FindSource(this, &answer);
        } else {
            found = LookUp(FMixer, answer);
        }
    }
    if (found) {
        FLineId = TMMLineId(answer.dwLineID);
        FComponentType = ComponentTypeOf(answer.dwComponentType);
        FLineInfo = LineInfoOf(answer);
        if (!(answer.fdwLine & zv::mixer::LineSource)) {
            FDestIndex = int(answer.dwDestination);
        }
    } else {
        FLineId = badLineId;
        FLineInfo = TMMLineInfo();
    }
    LineIdChanged();
}

void TMMAudioLine::MixerNotify(TMMObject* Change)
{
    if (auto* line = dynamic_cast<TMMLineChange*>(Change)) {
        if (FLineId != badLineId && line->LineId == FLineId) {
            LineChanged();
        }
    } else if (auto* control = dynamic_cast<TMMControlChange*>(Change)) {
        if (FLineId != badLineId && control->LineId == FLineId) {
            ControlChanged(control->ControlId);
        }
    } else if (dynamic_cast<TMMDeviceChange*>(Change)) {
        Refresh();
    }
}

void TMMAudioLine::LineChanged()
{
    // What changed is the line's information (its active state, say): read it again. A card whose
    // elements came or went is numbered anew, so the id may now be another line: a line found by
    // its type or target then looks again.
    TMixerLine answer {};
    answer.dwLineID = std::uint32_t(FLineId);
    const bool found = MixerValid() && FMixer->GetLineInfo(answer, zv::MixerLineQuery::LineId);
    const bool moved = FLookup == TLookup::ByComponentType
        ? !found || answer.dwComponentType != ComponentTypeCode(FComponentType)
        : FLookup == TLookup::ByTarget && (!found || (!FDestLine && !MatchesTarget(answer)));
    if (moved) {
        Refresh();
    } else if (found) {
        FLineInfo = LineInfoOf(answer);
    }
    TMMLineChange change(FLineId);
    FObservable.Notify(&change);
    if (OnChange && !InState(csDestroying)) {
        OnChange(this);
    }
}

void TMMAudioLine::LineIdChanged()
{
    TMMLineIdChange change;
    FObservable.Notify(&change);
}

void TMMAudioLine::ControlChanged(TMMControlId ControlId)
{
    TMMControlChange change(FLineId, ControlId);
    FObservable.Notify(&change);
    if (OnControlChange && !InState(csDestroying)) {
        OnControlChange(this, FLineId, ControlId);
    }
}

// ---- controls --------------------------------------------------------------------------------

TMMCustomMixerControl::TMMCustomMixerControl(QObject* AOwner)
    : TMMNonVisualComponent(AOwner)
{
    FLineObserver.OnNotify = [this](TMMObserver*, TMMObject* change) { LineNotify(change); };
}

TMMCustomMixerControl::~TMMCustomMixerControl()
{
    MarkDestroying();
}

void TMMCustomMixerControl::SetAudioLine(TMMAudioLine* Value)
{
    if (Value == FAudioLine) {
        return;
    }
    if (FAudioLine) {
        FAudioLine->RemoveObserver(&FLineObserver);
        Unfollow(this, FAudioLine);
    }
    FAudioLine = Value;
    if (FAudioLine) {
        FAudioLine->AddObserver(&FLineObserver);
        FollowLife(this, FAudioLine, [this] { Refresh(); });
    }
    Refresh();
}

void TMMCustomMixerControl::SetControlId(TMMControlId Value)
{
    FControlId = Value;
    FLookup = TLookup::ById;
    Refresh();
}

void TMMCustomMixerControl::SetControlType(TMMControlType Value)
{
    FControlType = Value;
    FLookup = TLookup::ByType;
    Refresh();
}

void TMMCustomMixerControl::Loaded()
{
    Refresh();
}

void TMMCustomMixerControl::Refresh()
{
    if (InState(csLoading)) {
        FControlClass = ControlClassOf(ControlTypeCode(FControlType));
        return;
    }
    TMixerControl answer {};
    bool found = false;
    if (FAudioLine && FAudioLine->MixerValid() && FAudioLine->LineId() != badLineId) {
        TMMMixerDevice* mixer = FAudioLine->Mixer();
        if (FLookup == TLookup::ById) {
            found
                = FControlId != badControlId && mixer->GetControl(std::uint32_t(FControlId), answer, nullptr);
        } else {
            found = mixer->GetLineControl(
                std::uint32_t(FAudioLine->LineId()), ControlTypeCode(FControlType), answer);
        }
        found = found && Accepts(answer);
    }
    if (found) {
        FControlId = TMMControlId(answer.dwControlID);
        FControlType = ControlTypeOf(answer.dwControlType);
        FControlInfo = ControlInfoOf(answer);
    } else {
        FControlId = badControlId;
        FControlInfo = TMMControlInfo();
    }
    FControlClass = ControlClassOf(ControlTypeCode(FControlType));
    ControlIdChanged();
}

void TMMCustomMixerControl::LineNotify(TMMObject* Change)
{
    if (auto* c = dynamic_cast<TMMControlChange*>(Change)) {
        if (FAudioLine && FControlId != badControlId && c->LineId == FAudioLine->LineId()
            && c->ControlId == FControlId) {
            ValueChanged();
        }
    } else if (dynamic_cast<TMMLineIdChange*>(Change)) {
        Refresh();
    } else if (dynamic_cast<TMMLineChange*>(Change)) {
        // Controls are numbered anew with the card's elements: an id that now names another
        // control (or none) is looked up again.
        if (FControlId == badControlId || !FAudioLine || !FAudioLine->MixerValid()) {
            return;
        }
        TMixerControl now {};
        std::uint32_t line = 0;
        if (!FAudioLine->Mixer()->GetControl(std::uint32_t(FControlId), now, &line)
            || TMMLineId(line) != FAudioLine->LineId() || ControlTypeOf(now.dwControlType) != FControlType
            || MixerText(now.szName, sizeof now.szName) != FControlInfo.Name) {
            Refresh();
        }
    }
}

void TMMCustomMixerControl::ValueChanged()
{
    const TMMLineId line = FAudioLine && FAudioLine->MixerValid() ? FAudioLine->LineId() : badLineId;
    TMMControlChange change(line, FControlId);
    FObservable.Notify(&change);
    if (OnChange && !InState(csDestroying)) {
        OnChange(this);
    }
}

void TMMCustomMixerControl::ControlIdChanged()
{
    TMMControlIdChange change;
    FObservable.Notify(&change);
}

bool TMMCustomMixerControl::IsValid() const
{
    return FAudioLine && FAudioLine->MixerValid() && FControlId != badControlId;
}

bool TMMCustomMixerControl::IsEnabled() const
{
    return IsValid() && !(FControlInfo.Flags & cfDisabled);
}

bool TMMCustomMixerControl::Accepts(const TMixerControl&) const
{
    return true;
}

int TMMCustomMixerControl::Channels() const
{
    if (!FAudioLine || !FAudioLine->MixerValid()) {
        return 0;
    }
    if (FControlInfo.Flags & cfUniform) {
        return 1;
    }
    return FAudioLine->LineInfo().Channels;
}

int TMMCustomMixerControl::Items() const
{
    if (!FAudioLine || !FAudioLine->MixerValid()) {
        return 0;
    }
    return FControlInfo.MultipleItems;
}

void TMMCustomMixerControl::CheckAccess() const
{
    if (!FAudioLine || !FAudioLine->MixerValid()) {
        throw EMMDeviceError(LoadResString(zv::SMixerRequired));
    }
    if (FControlId == badControlId) {
        throw EMMDeviceError(LoadResString(zv::SControlNotValid));
    }
}

std::vector<std::int32_t> TMMCustomMixerControl::ReadValues(int Channel, TMMItemIndex Item, int* Index)
{
    CheckAccess();
    const int channels = Channels();
    const int items = Items();
    if (Item != NoItem && (Item < 0 || Item >= items)) {
        throw EMMMixerControlError(LoadResString(zv::SItemOutOfRange));
    }
    const int exchangeChannels = Channel != 0 ? std::max(channels, 1) : 1;
    const int exchangeItems = Item == NoItem ? 0 : items;
    std::vector<std::int32_t> values(std::size_t(exchangeChannels * std::max(exchangeItems, 1)), 0);
    FAudioLine->Mixer()->GetControlValues(
        std::uint32_t(FControlId), exchangeChannels, exchangeItems, values.data());
    const int item = std::max(Item, 0);
    *Index = (channels <= 1 || Channel == 0) ? item : channels * item + Channel - 1;
    if (*Index < 0 || *Index >= int(values.size())) {
        throw EMMMixerControlError(LoadResString(zv::SItemOutOfRange));
    }
    return values;
}

void TMMCustomMixerControl::WriteValues(
    int Channel, TMMItemIndex Item, const std::vector<std::int32_t>& Values)
{
    const int exchangeChannels = Channel != 0 ? std::max(Channels(), 1) : 1;
    const int exchangeItems = Item == NoItem ? 0 : Items();
    FAudioLine->Mixer()->SetControlValues(
        std::uint32_t(FControlId), exchangeChannels, exchangeItems, Values.data());
}

std::uint32_t TMMCustomMixerControl::GetItemUnsigned(int Channel, TMMItemIndex Item)
{
    int index = 0;
    const auto values = ReadValues(Channel, Item, &index);
    return std::uint32_t(values[std::size_t(index)]);
}

void TMMCustomMixerControl::SetItemUnsigned(int Channel, TMMItemIndex Item, std::uint32_t Value)
{
    int index = 0;
    auto values = ReadValues(Channel, Item, &index);
    values[std::size_t(index)] = std::int32_t(Value);
    WriteValues(Channel, Item, values);
}

std::int32_t TMMCustomMixerControl::GetItemSigned(int Channel, TMMItemIndex Item)
{
    int index = 0;
    const auto values = ReadValues(Channel, Item, &index);
    return values[std::size_t(index)];
}

void TMMCustomMixerControl::SetItemSigned(int Channel, TMMItemIndex Item, std::int32_t Value)
{
    int index = 0;
    auto values = ReadValues(Channel, Item, &index);
    values[std::size_t(index)] = Value;
    WriteValues(Channel, Item, values);
}

bool TMMCustomMixerControl::GetItemBool(int Channel, TMMItemIndex Item)
{
    int index = 0;
    const auto values = ReadValues(Channel, Item, &index);
    return values[std::size_t(index)] != 0;
}

void TMMCustomMixerControl::SetItemBool(int Channel, TMMItemIndex Item, bool Value)
{
    int index = 0;
    auto values = ReadValues(Channel, Item, &index);
    if (FControlClass == ccList && zv::mixer::IsSingleSelect(ControlTypeCode(FControlType))) {
        // One source at a time: this channel's value of every item goes off first.
        const int channels = Channels();
        for (int i = 0; i < std::max(Items(), 1); ++i) {
            const int other = (channels <= 1 || Channel == 0) ? i : channels * i + Channel - 1;
            if (other < int(values.size())) {
                values[std::size_t(other)] = 0;
            }
        }
    }
    values[std::size_t(index)] = Value ? 1 : 0;
    WriteValues(Channel, Item, values);
}

bool TMMCustomMixerControl::GetBool()
{
    return GetItemBool(0, NoItem);
}
void TMMCustomMixerControl::SetBool(bool Value)
{
    SetItemBool(0, NoItem, Value);
}
std::int32_t TMMCustomMixerControl::GetSigned()
{
    return GetItemSigned(0, NoItem);
}
void TMMCustomMixerControl::SetSigned(std::int32_t Value)
{
    SetItemSigned(0, NoItem, Value);
}
std::uint32_t TMMCustomMixerControl::GetUnsigned()
{
    return GetItemUnsigned(0, NoItem);
}
void TMMCustomMixerControl::SetUnsigned(std::uint32_t Value)
{
    SetItemUnsigned(0, NoItem, Value);
}

TMMItemInfo TMMCustomMixerControl::ItemInfo(TMMItemIndex Index)
{
    if (!(FControlInfo.Flags & cfMultiple)) {
        throw EMMMixerControlError(LoadResString(zv::SItemInfoNotMultiple));
    }
    const int items = Items();
    if (Index < 0 || Index >= items) {
        throw EMMMixerControlError(LoadResString(zv::SItemOutOfRange));
    }
    CheckAccess();
    std::vector<TMixerListText> texts(static_cast<std::size_t>(items));
    FAudioLine->Mixer()->GetListTexts(std::uint32_t(FControlId), items, texts.data());
    const TMixerListText& t = texts[std::size_t(Index)];
    return TMMItemInfo { t.dwParam1, t.dwParam2, MixerText(t.szName, sizeof t.szName) };
}

TMMItemIndex TMMCustomMixerControl::ItemOfLine(TMMAudioLine* Line)
{
    if (!Line || Line->LineId() == badLineId || !IsValid() || !(FControlInfo.Flags & cfMultiple)
        || (FControlType != ctMixer && FControlType != ctMux)) {
        return NoItem;
    }
    const int items = Items();
    std::vector<TMixerListText> texts(static_cast<std::size_t>(items));
    FAudioLine->Mixer()->GetListTexts(std::uint32_t(FControlId), items, texts.data());
    for (int i = 0; i < items; ++i) {
        if (texts[std::size_t(i)].dwParam1 == std::uint32_t(Line->LineId())) {
            return i;
        }
    }
    return NoItem;
}

// ---- volume ----------------------------------------------------------------------------------

TMMVolumeControl::TMMVolumeControl(QObject* AOwner)
    : TMMCustomMixerControl(AOwner)
{
    SetControlType(ctVolume);
}

bool TMMVolumeControl::Accepts(const TMixerControl& Control) const
{
    return Control.dwControlType == ControlTypeCode(ctVolume);
}

double TMMVolumeControl::LeftFactor() const
{
    return FPanValue < 1 ? 1.0 : (32767.0 - FPanValue) / 32767.0;
}
double TMMVolumeControl::RightFactor() const
{
    return FPanValue >= 0 ? 1.0 : (FPanValue + 32768.0) / 32768.0;
}

void TMMVolumeControl::SetPanValue(int Value)
{
    Value = std::clamp(Value, -32768, 32767);
    if (Value == FPanValue) {
        return;
    }
    FPanValue = Value;
    if (IsValid()) {
        SetUnsigned(GetUnsigned());
    }
}

void TMMVolumeControl::SetUnsigned(std::uint32_t Value)
{
    SetItemUnsigned(0, NoItem, Value);
}
void TMMVolumeControl::SetSigned(std::int32_t Value)
{
    SetItemSigned(0, NoItem, Value);
}

void TMMVolumeControl::SetItemUnsigned(int Channel, TMMItemIndex Item, std::uint32_t Value)
{
    if (Channel != 0) {
        TMMCustomMixerControl::SetItemUnsigned(Channel, Item, Value);
        return;
    }
    TMMCustomMixerControl::SetItemUnsigned(1, Item, std::uint32_t(std::trunc(LeftFactor() * Value)));
    TMMCustomMixerControl::SetItemUnsigned(2, Item, std::uint32_t(std::trunc(Value * RightFactor())));
}

void TMMVolumeControl::SetItemSigned(int Channel, TMMItemIndex Item, std::int32_t Value)
{
    if (Channel != 0) {
        TMMCustomMixerControl::SetItemSigned(Channel, Item, Value);
        return;
    }
    TMMCustomMixerControl::SetItemSigned(1, Item, std::int32_t(std::trunc(LeftFactor() * Value)));
    TMMCustomMixerControl::SetItemSigned(2, Item, std::int32_t(std::trunc(Value * RightFactor())));
}

bool IsValidForItem(const TMMCustomMixerControl* Control, TMMItemIndex Item)
{
    if (!Control || !Control->IsValid()) {
        return false;
    }
    if (!(Control->ControlInfo().Flags & cfMultiple)) {
        return Item == NoItem;
    }
    return Item >= 0 && Item < Control->Items();
}

// ---- control link ----------------------------------------------------------------------------

TMMControlLink::TMMControlLink()
{
    OnNotify = [this](TMMObserver*, TMMObject* change) {
        if (dynamic_cast<TMMControlChange*>(change)) {
            if (OnValueChange) {
                OnValueChange(FControl);
            }
        } else if (dynamic_cast<TMMControlIdChange*>(change)) {
            if (OnControlChange) {
                OnControlChange(FControl);
            }
        }
    };
}

TMMControlLink::~TMMControlLink() = default;

void TMMControlLink::SetControl(TMMCustomMixerControl* Value)
{
    if (Value == FControl) {
        return;
    }
    if (FControl) {
        FControl->RemoveObserver(this);
        Unfollow(this, FControl);
    }
    FControl = Value;
    if (FControl) {
        FControl->AddObserver(this);
        FollowLife(this, FControl, [this] {
            if (OnControlChange) {
                OnControlChange(nullptr);
            }
        });
    }
}
