#pragma once

// The mixer model: a tree of components that mirrors the sound card's mixer. A TMMMixerDevice stands
// for the card, TMMAudioLine components each find one line of it (by id, by component type or by the
// device it stands for), TMMMixerControl / TMMVolumeControl components each find one control of a
// line. Each level observes the one above, so a change reported by the system (another program
// turned a volume) flows down to the widgets; TMMControlLink is what a widget binds with.
//
// Everything runs on the user-interface thread; the system's reports arrive there, from the event
// loop. A line or control that cannot be found is no error: its id becomes -1 and the widgets bound
// to it disable themselves.

#include "audio/MMDevice.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

ZV_DECLARE_EXCEPTION(EMMMixerDeviceError, EMMDeviceError);
ZV_DECLARE_EXCEPTION(EMMMixerControlError, Exception);
ZV_DECLARE_EXCEPTION(EMMMixerServiceError, Exception);
// A widget bound to a control it cannot show.
ZV_DECLARE_EXCEPTION(EMMMixerControlsError, Exception);

using TMMLineId = int;
inline constexpr TMMLineId badLineId = -1;
using TMMControlId = int;
inline constexpr TMMControlId badControlId = -1;
using TMMItemIndex = int;
inline constexpr TMMItemIndex NoItem = -1;

// ---- type tables -----------------------------------------------------------------------------

enum TMMComponentType {
    ctDstDigital,
    ctDstHeadPhones,
    ctDstLine,
    ctDstMonitor,
    ctDstSpeakers,
    ctDstTelephone,
    ctDstUndefined,
    ctDstVoiceIn,
    ctDstWaveIn,
    ctSrcAnalog,
    ctSrcAux,
    ctSrcCD,
    ctSrcDigital,
    ctSrcLine,
    ctSrcMicrophone,
    ctSrcPCSpeaker,
    ctSrcSynthesizer,
    ctSrcTelephone,
    ctSrcUndefined,
    ctSrcWaveOut,
};
inline constexpr int ComponentTypeCount = 20;
std::uint32_t ComponentTypeCode(TMMComponentType Type);
// Raises EMMMixerServiceError "Undefined API component type" for a code outside the table.
TMMComponentType ComponentTypeOf(std::uint32_t Code);

enum TMMControlType {
    ctCustom,
    ctBass,
    ctEqualizer,
    ctFader,
    ctTreble,
    ctVolume,
    ctMixer,
    ctMultipleSelect,
    ctMux,
    ctSingleSelect,
    ctBooleanMeter,
    ctPeakMeter,
    ctSignerMeter,
    ctUnsignedMeter,
    ctDecibels,
    ctPercent,
    ctSigned,
    ctUnsigned,
    ctPan,
    ctQSoundPan,
    ctSlider,
    ctBoolean,
    ctButton,
    ctLoudness,
    ctMono,
    ctMute,
    ctOnOff,
    ctStereoEnh,
    ctMicroTime,
    ctMilliTime,
};
inline constexpr int ControlTypeCount = 30;
std::uint32_t ControlTypeCode(TMMControlType Type);
// A code outside the table reads as ctCustom.
TMMControlType ControlTypeOf(std::uint32_t Code);

enum TMMControlClass { ccCustom, ccFader, ccList, ccMeter, ccNumber, ccSlider, ccSwitch, ccTime };
// From the top four bits; raises EMMMixerServiceError "Undefined API control class" for others.
TMMControlClass ControlClassOf(std::uint32_t Code);

// ---- information records ---------------------------------------------------------------------

enum TMMLineFlag : unsigned { cfActive = 0x1, cfDisconnected = 0x2, cfSource = 0x4 };
using TMMLineFlags = unsigned;
enum TMMControlFlag : unsigned { cfDisabled = 0x1, cfMultiple = 0x2, cfUniform = 0x4 };
using TMMControlFlags = unsigned;

struct TMMLineInfo {
    TMMLineFlags Flags = 0;
    int Channels = 0;
    int Connections = 0; // source lines of a destination
    int Controls = 0;
    QString ShortName; // up to 15 bytes
    QString Name; // up to 63 bytes
};

struct TMMControlInfo {
    TMMControlFlags Flags = 0;
    TMMItemIndex MultipleItems = 0;
    QString ShortName;
    QString Name;
    std::int64_t MinValue = 0;
    std::int64_t MaxValue = 0;
    std::uint32_t Steps = 0;
};

// One item of a multiple-item control: for selectors and mixers Param1 is the line id of the source
// the item stands for.
struct TMMItemInfo {
    std::uint32_t Param1 = 0;
    std::uint32_t Param2 = 0;
    QString Name;
};

// ---- change objects (made by the sender, living for the notification only) --------------------

class TMMMixerChange : public TMMObject { };
class TMMLineChange : public TMMMixerChange {
public:
    explicit TMMLineChange(TMMLineId Id)
        : LineId(Id)
    {
    }
    TMMLineId LineId;
};
class TMMControlChange : public TMMMixerChange {
public:
    TMMControlChange(TMMLineId Line, TMMControlId Control)
        : LineId(Line)
        , ControlId(Control)
    {
    }
    TMMLineId LineId;
    TMMControlId ControlId;
};
class TMMLineIdChange : public TMMMixerChange { };
class TMMControlIdChange : public TMMMixerChange { };

using TMMLineChangeEvent = std::function<void(QObject* Sender, TMMLineId LineId)>;
using TMMControlChangeEvent = std::function<void(QObject* Sender, TMMLineId LineId, TMMControlId CtlId)>;

class TMMMixerWindow;

// ---- the mixer device ------------------------------------------------------------------------

class TMMMixerDevice : public TMMCustomAudioDevice {
    Q_OBJECT
public:
    explicit TMMMixerDevice(QObject* AOwner = nullptr, zv::MixerOps* Mixer = nullptr);
    ~TMMMixerDevice() override;

    // Another device whose mixer this one follows (not a mixer), or none.
    TMMCustomAudioDevice* Device() const { return FDevice; }
    void SetDevice(TMMCustomAudioDevice* Value);
    // Destination lines of the card; 0 while not valid.
    int Destinations() const;
    zv::MixerHandle Handle() const { return FHandle; }

    // Lines observe the device through these.
    void AddLineObserver(TMMObserver* Observer) { FLines.AddObserver(Observer); }
    void RemoveLineObserver(TMMObserver* Observer) { FLines.RemoveObserver(Observer); }

    // The platform queries of lines and controls, through the open mixer when there is one, else by
    // device id. False when the mixer has no such line or control (or cannot be reached); other
    // errors raise EMMMCIError.
    bool GetLineInfo(TMixerLine& Line, zv::MixerLineQuery Query);
    bool GetLineControl(std::uint32_t LineId, std::uint32_t Type, TMixerControl& Control);
    bool GetControl(std::uint32_t ControlId, TMixerControl& Control, std::uint32_t* LineId);
    // Channels x max(Items, 1) values; every error raises.
    void GetControlValues(std::uint32_t ControlId, int Channels, int Items, std::int32_t* Values);
    void SetControlValues(std::uint32_t ControlId, int Channels, int Items, const std::int32_t* Values);
    void GetListTexts(std::uint32_t ControlId, int Items, TMixerListText* Texts);

    TMMLineChangeEvent ZoVevaChange;
    TMMControlChangeEvent OnControlChange;

protected:
    void OpenDevice() override;
    void CloseDevice() override;
    void DeviceChanged() override;
    void NotifyChange() override;
    virtual void LineChanged(TMMLineId LineId);
    virtual void ControlChanged(TMMLineId LineId, TMMControlId ControlId);

private:
    friend class TMMMixerWindow;
    static void Callback(
        zv::MixerHandle Handle, zv::MixerNotification Message, void* Instance, std::int64_t Param);
    void Notification(zv::MixerNotification Message, std::int64_t Param);
    zv::MixerObject Object();
    bool Found(int Code) const;

    TMMObservable FLines;
    zv::MixerHandle FHandle = 0;
    TMMMixerWindow* FWindow = nullptr;
    TMMCustomAudioDevice* FDevice = nullptr;
    TMMObserver FDeviceObserver;
};

// ---- lines -----------------------------------------------------------------------------------

class TMMAudioLine : public TMMNonVisualComponent {
    Q_OBJECT
public:
    explicit TMMAudioLine(QObject* AOwner = nullptr);
    ~TMMAudioLine() override;

    TMMMixerDevice* Mixer() const { return FMixer; }
    void SetMixer(TMMMixerDevice* Value);
    TMMLineId LineId() const { return FLineId; }
    void SetLineId(TMMLineId Value);
    TMMComponentType ComponentType() const { return FComponentType; }
    void SetComponentType(TMMComponentType Value);
    // A device this line stands for (not a mixer).
    TMMCustomAudioDevice* Target() const { return FTarget; }
    void SetTarget(TMMCustomAudioDevice* Value);
    // The destination this line is a source of; only a TMMAudioLine is taken.
    TMMAudioLine* DestLine() const { return FDestLine; }
    void SetDestLine(QObject* Value);
    const TMMLineInfo& LineInfo() const { return FLineInfo; }
    // The destination index of a destination line; -1 for a source line or none.
    int DestIndex() const { return FDestIndex; }

    // Whether the line has a mixer that is valid.
    bool MixerValid() const;
    void Refresh();
    // On a destination line: finds the line that `Source` describes among this destination's sources.
    bool FindSource(TMMAudioLine* Source, TMixerLine* Answer);

    void AddObserver(TMMObserver* Observer) { FObservable.AddObserver(Observer); }
    void RemoveObserver(TMMObserver* Observer) { FObservable.RemoveObserver(Observer); }

    TNotifyEvent OnChange;
    TMMControlChangeEvent OnControlChange;

protected:
    virtual void LineChanged();
    virtual void LineIdChanged();
    virtual void ControlChanged(TMMControlId ControlId);
    void Loaded() override;

private:
    enum class TLookup { ById, ByComponentType, ByTarget };
    // This line as its own key describes it, on the given mixer.
    bool LookUp(TMMMixerDevice* OnMixer, TMixerLine& Answer);
    bool MatchesTarget(const TMixerLine& Line) const;
    void MixerNotify(TMMObject* Change);

    TMMLineId FLineId = badLineId;
    int FDestIndex = -1;
    TMMAudioLine* FDestLine = nullptr;
    TMMObserver FDestObserver;
    TMMLineInfo FLineInfo;
    TLookup FLookup = TLookup::ById;
    TMMComponentType FComponentType = ctDstSpeakers;
    TMMMixerDevice* FMixer = nullptr;
    TMMObserver FMixerObserver;
    TMMCustomAudioDevice* FTarget = nullptr;
    TMMObserver FTargetObserver;
    TMMObservable FObservable;
};

// ---- controls --------------------------------------------------------------------------------

class TMMCustomMixerControl : public TMMNonVisualComponent {
    Q_OBJECT
public:
    explicit TMMCustomMixerControl(QObject* AOwner = nullptr);
    ~TMMCustomMixerControl() override;

    TMMAudioLine* AudioLine() const { return FAudioLine; }
    void SetAudioLine(TMMAudioLine* Value);
    TMMControlId ControlId() const { return FControlId; }
    void SetControlId(TMMControlId Value);
    TMMControlType ControlType() const { return FControlType; }
    TMMControlClass ControlClass() const { return FControlClass; }
    const TMMControlInfo& ControlInfo() const { return FControlInfo; }

    virtual void Refresh();
    virtual void ValueChanged();
    virtual void ControlIdChanged();
    virtual bool GetBool();
    virtual void SetBool(bool Value);
    virtual std::int32_t GetSigned();
    virtual void SetSigned(std::int32_t Value);
    virtual std::uint32_t GetUnsigned();
    virtual void SetUnsigned(std::uint32_t Value);
    virtual bool IsValid() const;
    // Whether a control the lookup found is one this component takes.
    virtual bool Accepts(const TMixerControl& Control) const;
    virtual int Channels() const;
    virtual int Items() const;
    // Channel 0 both (one value for all), 1 left, 2 right; item -1 none.
    virtual std::uint32_t GetItemUnsigned(int Channel, TMMItemIndex Item);
    virtual void SetItemUnsigned(int Channel, TMMItemIndex Item, std::uint32_t Value);
    virtual std::int32_t GetItemSigned(int Channel, TMMItemIndex Item);
    virtual void SetItemSigned(int Channel, TMMItemIndex Item, std::int32_t Value);
    virtual bool GetItemBool(int Channel, TMMItemIndex Item);
    virtual void SetItemBool(int Channel, TMMItemIndex Item, bool Value);

    TMMItemInfo ItemInfo(TMMItemIndex Index);
    // The item that stands for the line, or -1.
    TMMItemIndex ItemOfLine(TMMAudioLine* Line);
    bool IsEnabled() const;

    void AddObserver(TMMObserver* Observer) { FObservable.AddObserver(Observer); }
    void RemoveObserver(TMMObserver* Observer) { FObservable.RemoveObserver(Observer); }

    TNotifyEvent OnChange;

protected:
    void SetControlType(TMMControlType Value);
    void Loaded() override;
    void CheckAccess() const;
    // The whole array of a channel/item access and the index of the value asked for.
    std::vector<std::int32_t> ReadValues(int Channel, TMMItemIndex Item, int* Index);
    void WriteValues(int Channel, TMMItemIndex Item, const std::vector<std::int32_t>& Values);

private:
    enum class TLookup { ById, ByType };
    void LineNotify(TMMObject* Change);

    TMMAudioLine* FAudioLine = nullptr;
    TMMControlId FControlId = badControlId;
    TMMControlType FControlType = ctCustom;
    TMMControlClass FControlClass = ccCustom;
    TLookup FLookup = TLookup::ByType;
    TMMObserver FLineObserver;
    TMMObservable FObservable;
    TMMControlInfo FControlInfo;
};

class TMMMixerControl : public TMMCustomMixerControl {
    Q_OBJECT
public:
    using TMMCustomMixerControl::SetControlType;
    using TMMCustomMixerControl::TMMCustomMixerControl;
};

// A volume: both channels written with the balance of PanValue.
class TMMVolumeControl : public TMMCustomMixerControl {
    Q_OBJECT
public:
    explicit TMMVolumeControl(QObject* AOwner = nullptr);

    int PanValue() const { return FPanValue; }
    void SetPanValue(int Value); // -32768 ... 32767

    bool Accepts(const TMixerControl& Control) const override;
    void SetUnsigned(std::uint32_t Value) override;
    void SetSigned(std::int32_t Value) override;
    void SetItemUnsigned(int Channel, TMMItemIndex Item, std::uint32_t Value) override;
    void SetItemSigned(int Channel, TMMItemIndex Item, std::int32_t Value) override;

private:
    double LeftFactor() const;
    double RightFactor() const;
    int FPanValue = 0;
};

// Whether a widget can show the control at this item: a valid control, and no item for a
// single-item control or an item in range for a multiple-item one.
bool IsValidForItem(const TMMCustomMixerControl* Control, TMMItemIndex Item);

// ---- the widgets' binding --------------------------------------------------------------------

// An observer bound to one control: hears its value changes and its being looked up again. A widget
// locks it while it reads or writes, so that it does not react to its own change.
class TMMControlLink : public QObject, public TMMObserver {
    Q_OBJECT
public:
    TMMControlLink();
    ~TMMControlLink() override;

    TMMCustomMixerControl* Control() const { return FControl; }
    // Moves the link from the old control to the new one.
    void SetControl(TMMCustomMixerControl* Value);

    std::function<void(TMMCustomMixerControl* Control)> OnValueChange;
    // The control was looked up again (or went away).
    std::function<void(TMMCustomMixerControl* Control)> OnControlChange;

private:
    TMMCustomMixerControl* FControl = nullptr;
};
