#pragma once

// Audio devices as components: one device of a kind (wave input, mixer, ...) chosen by id, its
// capabilities, the list of the kind's devices, and activity. Observers hear every change of
// device. User-interface thread only.

#include "audio/MMObj.h"
#include "audio/MMObsrv.h"
#include "platform/Exception.h"
#include "platform/Mixer.h"
#include "platform/WaveIn.h"

#include <QString>
#include <QStringList>
#include <cstdint>

ZV_DECLARE_EXCEPTION(EMMDeviceError, Exception);
// An error code of a platform service, with the service's text for it.
ZV_DECLARE_EXCEPTION(EMMMCIError, Exception);

// The kinds of device, in the platform's order.
enum TMMDeviceKind { dkMidiIn = 0, dkMidiOut = 1, dkWaveIn = 2, dkWaveOut = 3, dkAux = 4, dkMixer = 5 };

// What every kind's capabilities share: manufacturer, product, driver version, name.
class TMMDeviceCaps {
public:
    std::uint16_t ManufacturerId() const { return FManufacturerId; }
    std::uint16_t ProductId() const { return FProductId; }
    std::uint8_t VerMajor() const { return FVerMajor; }
    std::uint8_t VerMinor() const { return FVerMinor; }
    QString ProductName() const { return FProductName; }

    // version: the low word holds the major version in its high byte and the minor in its low byte.
    void Assign(
        std::uint16_t mid, std::uint16_t pid, std::uint32_t version, const char* name, std::size_t size);
    void Clear() { *this = TMMDeviceCaps(); }

private:
    std::uint16_t FManufacturerId = 0;
    std::uint16_t FProductId = 0;
    std::uint8_t FVerMajor = 0;
    std::uint8_t FVerMinor = 0;
    QString FProductName;
};

// Sent to a device's observers after it changed device.
class TMMDeviceChange : public TMMObject { };

// A platform text as the components show it: invalid UTF-8 and control characters replaced, so a
// name the hardware reports can never break a line or a caption.
QString MixerText(const char* text, std::size_t size);

class TMMCustomAudioDevice : public TMMNonVisualComponent {
    Q_OBJECT
public:
    // The bindings default to the program's own (zv::DefaultWaveIn, zv::DefaultMixer).
    explicit TMMCustomAudioDevice(TMMDeviceKind Kind = dkWaveOut, QObject* AOwner = nullptr,
        zv::WaveInOps* WaveIn = nullptr, zv::MixerOps* Mixer = nullptr);
    ~TMMCustomAudioDevice() override;

    TMMDeviceKind Kind() const { return FKind; }
    TMMDeviceId DeviceId() const { return FDeviceId; }
    void SetDeviceId(TMMDeviceId Value);
    bool Active() const { return FActive; }
    void SetActive(bool Value);
    // Number of the platform's devices of this kind.
    int DeviceCount() const;
    const TMMDeviceCaps& DeviceCaps() const { return FDeviceCaps; }
    // Whether the platform's mapper of this kind (id -1) exists.
    bool Mapper() const;

    bool IsValid() const;
    // The mapper's name first when asked for and present, then devices 0 ... DeviceCount - 1.
    void GetNames(QStringList& List, bool WithMapper) const;
    // The mixer that belongs to this device, or InvalidId.
    virtual TMMDeviceId MixerId() const;

    void AddObserver(TMMObserver* Observer) { FObservable.AddObserver(Observer); }
    void RemoveObserver(TMMObserver* Observer) { FObservable.RemoveObserver(Observer); }

    TNotifyEvent OnChange;

protected:
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void DeviceChanged();
    virtual void NotifyChange();
    void Loaded() override;

    // The kind's service: number of devices, capabilities (0 or an error code), error texts.
    int PlatformCount() const;
    int PlatformCaps(int Id, TMixerCaps& Caps) const;
    // Raises EMMMCIError for a non-zero code.
    void Check(int Code) const;
    zv::MixerOps& MixerService() const;
    zv::WaveInOps& WaveInService() const;
    void RefreshCaps();

    bool FActive = false;
    TMMDeviceId FDeviceId = 0;
    TMMDeviceCaps FDeviceCaps;
    TMMObservable FObservable;

private:
    const TMMDeviceKind FKind;
    zv::WaveInOps* FWaveIn;
    zv::MixerOps* FMixer;
    bool FLoadedActive = false;
};

// A capture device as a component: what a mixer or a line can follow or target.
class TMMWaveInDevice : public TMMCustomAudioDevice {
    Q_OBJECT
public:
    explicit TMMWaveInDevice(
        QObject* AOwner = nullptr, zv::WaveInOps* WaveIn = nullptr, zv::MixerOps* Mixer = nullptr)
        : TMMCustomAudioDevice(dkWaveIn, AOwner, WaveIn, Mixer)
    {
    }
};
