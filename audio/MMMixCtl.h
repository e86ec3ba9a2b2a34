#pragma once

// Mixer widgets besides the knob: a check box bound to a switch or to one item of a selector (its
// tick means "this source is recorded"), and a combo box that lists a kind's devices and chooses
// one.

#include "audio/MMMixer.h"

#include <QCheckBox>
#include <QComboBox>

// A check box on a switch control (mute, on/off) or on a list control's item.
class TMMCustomMixerCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit TMMCustomMixerCheckBox(QWidget* parent = nullptr);
    ~TMMCustomMixerCheckBox() override;

    TMMCustomMixerControl* Control() const { return FLink.Control(); }
    // A control of another class raises EMMMixerControlsError; the old binding stays.
    void SetControl(TMMCustomMixerControl* Value);
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel Value);
    TMMItemIndex Item() const { return FItem; }
    void SetItem(TMMItemIndex Value);
    // The line whose item of the control the box stands for; it chooses Item.
    TMMAudioLine* ItemLine() const { return FItemLine; }
    void SetItemLine(TMMAudioLine* Value);
    // The caption follows the item's name (or the control's name without an item).
    bool AutoCaption() const { return FAutoCaption; }
    void SetAutoCaption(bool Value);
    // The control's short name rather than its long one.
    bool Short() const { return FShort; }
    void SetShort(bool Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

    // Enable state, caption, then the state from the control.
    void Refresh();
    void ReadState();

    // After every click, by the user or by the program setting the tick.
    TNotifyEvent OnClick;

protected:
    // Writes the tick to the control; runs when the user toggles the box and when the program sets
    // Checked, alike.
    virtual void Click();
    void nextCheckState() override;
    void checkStateSet() override;

private:
    TMMControlLink FLink;
    TMMObserver FLineObserver;
    TMMAudioLine* FItemLine = nullptr;
    TMMChannel FChannel = chBoth;
    TMMItemIndex FItem = NoItem;
    bool FAutoCaption = true;
    bool FShort = true;
    bool FEnabled = true;
    bool FShownChecked = false; // the tick as last set, to tell the program's changes
};

class TMMMixerCheckBox : public TMMCustomMixerCheckBox {
    Q_OBJECT
public:
    using TMMCustomMixerCheckBox::TMMCustomMixerCheckBox;
};

// A drop-down list of a device kind's devices (the mapper first when asked for) that chooses the
// device's id when the user picks one.
class TMMCustomDeviceComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TMMCustomDeviceComboBox(QWidget* parent = nullptr);
    ~TMMCustomDeviceComboBox() override;

    TMMCustomAudioDevice* Device() const { return FDevice; }
    void SetDevice(TMMCustomAudioDevice* Value);
    bool IncludeMapper() const { return FIncludeMapper; }
    void SetIncludeMapper(bool Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

    void Refresh();

    // Before the device changes, when the user picked an item.
    TNotifyEvent OnChange;

protected:
    virtual void Change();

private:
    bool MapperListed() const;

    TMMCustomAudioDevice* FDevice = nullptr;
    TMMObserver FDeviceObserver;
    bool FIncludeMapper = true;
    bool FEnabled = true;
    bool FChanging = false; // the box itself changes the device: no refresh meanwhile
};

class TMMDeviceComboBox : public TMMCustomDeviceComboBox {
    Q_OBJECT
public:
    using TMMCustomDeviceComboBox::TMMCustomDeviceComboBox;
};
