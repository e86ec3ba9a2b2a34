#pragma once

// The volume knob: a round control over a background picture with a ring of ticks, turned with the
// mouse (around its centre, or up and down) or the keys, and the same knob bound to a mixer
// control, in step with it both ways.

#include "audio/MMMixer.h"
#include "displays/MMControl.h"
#include "displays/MMScale.h"
#include "platform/Exception.h"

#include <QImage>
#include <functional>
#include <memory>

ZV_DECLARE_EXCEPTION(EMMWheelError, Exception);

enum TMMHandleStyle { hsEllipse, hsOwnerDraw };
enum TMMFocusAction { faHandleColor, faFrameRect, faAll };

class TMMCustomWheel : public TMMCustomControl {
    Q_OBJECT
public:
    // Draws the handle for hsOwnerDraw: the canvas, the client rectangle, the handle's centre.
    using TMMDrawHandleEvent = std::function<void(
        QObject* Sender, QPainter& Canvas, const QRect& Rect, QPoint Origin, bool Focused)>;

    explicit TMMCustomWheel(QWidget* parent = nullptr);
    ~TMMCustomWheel() override;

    int Value() const { return FValue; }
    void SetValue(int Value);
    int Minimum() const { return FMinimum; }
    int Maximum() const { return FMaximum; }
    // Set by the owner, each end on its own; the handle follows.
    void SetRange(int Minimum, int Maximum);
    void SetMinimum(int Value) { SetRange(Value, FMaximum); }
    void SetMaximum(int Value) { SetRange(FMinimum, Value); }

    int StartAngle() const { return FStartAngle; }
    void SetStartAngle(int Degrees); // 0 ... 360
    int EndAngle() const { return FEndAngle; }
    void SetEndAngle(int Degrees); // 0 ... 360
    int Radius() const { return FRadius; }
    void SetRadius(int Value); // 0: computed
    TMMHandleStyle HandleStyle() const { return FHandleStyle; }
    void SetHandleStyle(TMMHandleStyle Value);
    int HandleSize() const { return FHandleSize; }
    void SetHandleSize(int Value); // at least 2
    int HandleMargin() const { return FHandleMargin; }
    void SetHandleMargin(int Value);
    int FrameSpace() const { return FFrameSpace; }
    void SetFrameSpace(int Value);
    int ScaleMargin() const { return FScaleMargin; }
    void SetScaleMargin(int Value);
    TColor HandleColor() const { return FHandleColor; }
    void SetHandleColor(TColor Value);
    TColor FocusedColor() const { return FFocusedColor; }
    void SetFocusedColor(TColor Value);
    TMMFocusAction FocusAction() const { return FFocusAction; }
    void SetFocusAction(TMMFocusAction Value);
    bool UpDown() const { return FUpDown; }
    void SetUpDown(bool Value) { FUpDown = Value; }
    // Below 1 each raises EMMWheelError.
    int ScrollSize() const { return FScrollSize; }
    void SetScrollSize(int Value);
    int LineStep() const { return FLineStep; }
    void SetLineStep(int Value);
    int PageStep() const { return FPageStep; }
    void SetPageStep(int Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    // The picture under the handle; its bottom-left pixel's colour is see-through. A null image
    // brings back the built-in one.
    const QImage& BackBmp() const { return FBackBmp; }
    void SetBackBmp(const QImage& Value);
    TMMScale& Scale() { return FScale; }

    // The handle's angle in whole degrees, and where its centre is.
    int HandleAngle() const { return FAngle; }
    int CurrentRadius() const;
    QPoint HandleCentre() const;
    // The size AutoSize keeps.
    QSize AutoSizeOf() const;

    // Brackets the setting of many properties: AutoSize and OnChange wait for the end.
    void BeginLoading() { FLoading = true; }
    void EndLoading();

    TNotifyEvent OnChange;
    TMMDrawHandleEvent OnDrawHandle;

    // The built-in knob picture "BM_WHEEL".
    static QImage BuiltInBitmap();

protected:
    // After every change of Value.
    virtual void ValueChanged();
    virtual void DrawHandle(QPainter& Canvas, int Angle);
    virtual void Loaded();
    bool Loading() const { return FLoading; }
    // Set while the value is read from elsewhere (a bound control): no OnChange then.
    bool FReading = false;

    void Paint(QPainter& Canvas) override;
    void ColorChanged() override;
    void LayoutChanged() override;
    void BoundsChanged() override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;

private:
    int ScaleRoom() const;
    void ValueFromPos(QPoint Pos);
    void UpdateAngle();
    void ApplyAutoSize();
    void DropBackground();
    const QImage& Background();

    int FValue = 0;
    int FMinimum = 0;
    int FMaximum = 10;
    int FStartAngle = 225;
    int FEndAngle = 315;
    int FRadius = 0;
    TMMHandleStyle FHandleStyle = hsEllipse;
    int FHandleSize = 4;
    int FHandleMargin = 4;
    int FFrameSpace = 4;
    int FScaleMargin = 3;
    TColor FHandleColor = 128;
    TColor FFocusedColor = 255;
    TMMFocusAction FFocusAction = faAll;
    bool FUpDown = false;
    int FScrollSize = 160;
    int FLineStep = 1;
    int FPageStep = 2;
    bool FAutoSize = true;
    QImage FBackBmp;
    TMMScale FScale;
    int FAngle = 225;
    QImage FBackground; // built on demand, dropped by any change that alters it
    bool FTracking = false;
    int FDragY = 0;
    int FDragValue = 0;
    bool FLoading = false;
};

// A knob bound to a mixer control: a fader, number, slider or time control.
class TMMCustomMixerWheel : public TMMCustomWheel {
    Q_OBJECT
public:
    explicit TMMCustomMixerWheel(QWidget* parent = nullptr);
    ~TMMCustomMixerWheel() override;

    TMMCustomMixerControl* Control() const { return FLink.Control(); }
    // A control of another class raises EMMMixerControlsError; the old binding stays.
    void SetControl(TMMCustomMixerControl* Value);
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel Value);
    TMMItemIndex Item() const { return FItem; }
    void SetItem(TMMItemIndex Value);
    // Combined with the control's state: the knob works only when both allow it.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

    // Enable state, range and value from the control.
    void Refresh();
    void ReadValue();
    // Control units per knob step.
    long double Step() const { return FStep; }

protected:
    void ValueChanged() override;
    void Loaded() override;

private:
    bool ValidForItem() const;

    TMMControlLink FLink;
    TMMChannel FChannel = chBoth;
    TMMItemIndex FItem = NoItem;
    bool FEnabled = true;
    long double FStep = 0;
};

class TMMMixerWheel : public TMMCustomMixerWheel {
    Q_OBJECT
public:
    using TMMCustomMixerWheel::TMMCustomMixerWheel;
};
