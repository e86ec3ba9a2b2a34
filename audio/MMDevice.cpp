#include "audio/MMDevice.h"

#include "platform/ResStrings.h"

#include <cstring>

void TMMDeviceCaps::Assign(
    std::uint16_t mid, std::uint16_t pid, std::uint32_t version, const char* name, std::size_t size)
{
    FManufacturerId = mid;
    FProductId = pid;
    FVerMajor = std::uint8_t((version >> 8) & 0xFF);
    FVerMinor = std::uint8_t(version & 0xFF);
    FProductName = MixerText(name, size);
}

QString MixerText(const char* text, std::size_t size)
{
    QString s = QString::fromUtf8(text, qsizetype(::strnlen(text, size)));
    for (QChar& c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = QLatin1Char(' ');
        }
    }
    return s;
}

TMMCustomAudioDevice::TMMCustomAudioDevice(
    TMMDeviceKind Kind, QObject* AOwner, zv::WaveInOps* WaveIn, zv::MixerOps* Mixer)
    : TMMNonVisualComponent(AOwner)
    , FKind(Kind)
    , FWaveIn(WaveIn)
    , FMixer(Mixer)
{
    // Device 0 of the kind; a service that cannot answer leaves the component without a device.
    try {
        RefreshCaps();
    } catch (const std::exception&) {
        FDeviceId = InvalidId;
        FDeviceCaps.Clear();
    }
}

TMMCustomAudioDevice::~TMMCustomAudioDevice()
{
    MarkDestroying();
}

zv::MixerOps& TMMCustomAudioDevice::MixerService() const
{
    return FMixer ? *FMixer : zv::DefaultMixer();
}
zv::WaveInOps& TMMCustomAudioDevice::WaveInService() const
{
    return FWaveIn ? *FWaveIn : zv::DefaultWaveIn();
}

int TMMCustomAudioDevice::PlatformCount() const
{
    switch (FKind) {
    case dkMixer:
        return MixerService().GetNumDevs();
    case dkWaveIn:
        return WaveInService().GetNumDevs();
    default:
        return 0; // no service of these kinds on this platform
    }
}

int TMMCustomAudioDevice::PlatformCaps(int Id, TMixerCaps& Caps) const
{
    Caps = {};
    switch (FKind) {
    case dkMixer:
        return MixerService().GetDevCaps(Id, Caps);
    case dkWaveIn: {
        TWaveInCaps w {};
        const int e = WaveInService().GetDevCaps(Id, w);
        if (e == 0) {
            Caps.wMid = w.wMid;
            Caps.wPid = w.wPid;
            Caps.vDriverVersion = w.vDriverVersion;
            static_assert(sizeof Caps.szPname == sizeof w.szPname);
            std::memcpy(Caps.szPname, w.szPname, sizeof Caps.szPname);
        }
        return e;
    }
    default:
        return zv::mixer::BadDeviceId;
    }
}

void TMMCustomAudioDevice::Check(int Code) const
{
    if (Code == 0) {
        return;
    }
    char text[256] = {};
    const int e = FKind == dkWaveIn ? WaveInService().GetErrorText(Code, text, sizeof text)
                                    : MixerService().GetErrorText(Code, text, sizeof text);
    if (e != 0 || !*text) {
        throw EMMMCIError(
            zv::LoadResString(zv::SMMSystemError).replace(QLatin1String("%d"), QString::number(Code)));
    }
    throw EMMMCIError(MixerText(text, sizeof text));
}

int TMMCustomAudioDevice::DeviceCount() const
{
    return PlatformCount();
}

bool TMMCustomAudioDevice::IsValid() const
{
    return DeviceCount() >= 1 && FDeviceId != InvalidId;
}

bool TMMCustomAudioDevice::Mapper() const
{
    TMixerCaps caps;
    const int e = PlatformCaps(MapperId, caps);
    if (e == zv::mixer::BadDeviceId || e == zv::mixer::InvalidHandle) {
        return false;
    }
    Check(e);
    return true;
}

void TMMCustomAudioDevice::RefreshCaps()
{
    if (!IsValid()) {
        FDeviceCaps.Clear();
        return;
    }
    TMixerCaps caps;
    const int e = PlatformCaps(FDeviceId, caps);
    if (e == zv::mixer::BadDeviceId || e == zv::mixer::InvalidHandle || e == zv::mixer::NoDriver) {
        FDeviceCaps.Clear(); // gone since it was counted
        return;
    }
    Check(e);
    FDeviceCaps.Assign(caps.wMid, caps.wPid, caps.vDriverVersion, caps.szPname, sizeof caps.szPname);
}

void TMMCustomAudioDevice::GetNames(QStringList& List, bool WithMapper) const
{
    List.clear();
    TMixerCaps caps;
    if (WithMapper && Mapper()) {
        Check(PlatformCaps(MapperId, caps));
        List.append(MixerText(caps.szPname, sizeof caps.szPname));
    }
    const int count = DeviceCount();
    for (int id = 0; id < count; ++id) {
        const int e = PlatformCaps(id, caps);
        if (e == zv::mixer::BadDeviceId) {
            break; // the list shrank meanwhile
        }
        Check(e);
        List.append(MixerText(caps.szPname, sizeof caps.szPname));
    }
}

TMMDeviceId TMMCustomAudioDevice::MixerId() const
{
    if (FKind == dkMixer) {
        return FDeviceId;
    }
    if (!IsValid()) {
        return InvalidId;
    }
    TMixerCaps caps;
    const int e = PlatformCaps(FDeviceId, caps);
    if (e == zv::mixer::BadDeviceId) {
        return InvalidId;
    }
    Check(e);
    zv::mixer::TargetType type = zv::mixer::TargetUndefined;
    switch (FKind) {
    case dkWaveIn:
        type = zv::mixer::TargetWaveIn;
        break;
    case dkWaveOut:
        type = zv::mixer::TargetWaveOut;
        break;
    case dkMidiOut:
        type = zv::mixer::TargetMidiOut;
        break;
    case dkMidiIn:
        type = zv::mixer::TargetMidiIn;
        break;
    case dkAux:
        type = zv::mixer::TargetAux;
        break;
    case dkMixer:
        break;
    }
    int id = -1;
    Check(MixerService().GetIdOf(type, caps.szPname, &id));
    return id == -1 ? InvalidId : id;
}

void TMMCustomAudioDevice::SetDeviceId(TMMDeviceId Value)
{
    if (Value != 0 && Value != MapperId && Value != InvalidId && (Value < 0 || Value >= DeviceCount())) {
        throw EMMDeviceError(zv::LoadResString(zv::SDeviceIdOutOfRange));
    }
    if (Value == FDeviceId) {
        return;
    }
    const bool wasActive = FActive;
    CloseDevice();
    FDeviceId = Value;
    DeviceChanged();
    if (wasActive) {
        SetActive(true);
    }
}

void TMMCustomAudioDevice::SetActive(bool Value)
{
    if (InState(csLoading)) {
        FLoadedActive = Value;
        return;
    }
    if (Value == FActive) {
        return;
    }
    CloseDevice();
    if (Value) {
        OpenDevice();
    }
}

void TMMCustomAudioDevice::Loaded()
{
    if (FLoadedActive) {
        SetActive(true);
    }
}

void TMMCustomAudioDevice::OpenDevice()
{
    FActive = true;
}

void TMMCustomAudioDevice::CloseDevice()
{
    FActive = false;
}

void TMMCustomAudioDevice::DeviceChanged()
{
    RefreshCaps();
    NotifyChange();
}

void TMMCustomAudioDevice::NotifyChange()
{
    TMMDeviceChange change;
    FObservable.Notify(&change);
    if (OnChange && !InState(csDestroying)) {
        OnChange(this);
    }
}
