#include "audio/MMWheel.h"

#include "platform/ResStrings.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace {

// Round to the nearest integer, halves to even.
int RoundEven(long double v)
{
    return int(std::nearbyint(v));
}

} // namespace

// ---- the knob --------------------------------------------------------------------------------

QImage TMMCustomWheel::BuiltInBitmap()
{
    static const QImage picture(QStringLiteral(":/knobs/wheel.png"));
    return picture;
}

TMMCustomWheel::TMMCustomWheel(QWidget* parent)
    : TMMCustomControl(parent)
    , FBackBmp(BuiltInBitmap())
{
    resize(100, 100);
    Bevel().SetBevelOuter(bvNone);
    FScale.SetStartAngle(FStartAngle);
    FScale.SetEndAngle(FEndAngle);
    FScale.OnChange = [this] {
        DropBackground();
        ApplyAutoSize();
    };
    UpdateAngle();
    ApplyAutoSize();
}

TMMCustomWheel::~TMMCustomWheel()
{
    FScale.OnChange = nullptr;
}

void TMMCustomWheel::EndLoading()
{
    if (!FLoading) {
        return;
    }
    FLoading = false;
    Loaded();
}

void TMMCustomWheel::Loaded()
{
    ApplyAutoSize();
}

void TMMCustomWheel::SetValue(int Value)
{
    Value = std::clamp(Value, FMinimum, std::max(FMinimum, FMaximum));
    if (Value == FValue) {
        return;
    }
    FValue = Value;
    UpdateAngle();
    update();
    ValueChanged();
}

void TMMCustomWheel::SetRange(int Minimum, int Maximum)
{
    if (Minimum == FMinimum && Maximum == FMaximum) {
        return;
    }
    FMinimum = Minimum;
    FMaximum = Maximum;
    // The value stays inside; this is no turn of the knob, so nothing is told.
    FValue = std::clamp(FValue, FMinimum, std::max(FMinimum, FMaximum));
    UpdateAngle();
    update();
}

void TMMCustomWheel::ValueChanged()
{
    if (OnChange && !FLoading && !FReading) {
        OnChange(this);
    }
}

void TMMCustomWheel::SetStartAngle(int Degrees)
{
    Degrees = std::clamp(Degrees, 0, 360);
    if (Degrees == FStartAngle) {
        return;
    }
    FStartAngle = Degrees;
    FScale.SetStartAngle(Degrees);
    UpdateAngle();
    DropBackground();
}

void TMMCustomWheel::SetEndAngle(int Degrees)
{
    Degrees = std::clamp(Degrees, 0, 360);
    if (Degrees == FEndAngle) {
        return;
    }
    FEndAngle = Degrees;
    FScale.SetEndAngle(Degrees);
    UpdateAngle();
    DropBackground();
}

void TMMCustomWheel::SetRadius(int Value)
{
    Value = std::max(Value, 0);
    if (Value != FRadius) {
        FRadius = Value;
        update();
    }
}

void TMMCustomWheel::SetHandleStyle(TMMHandleStyle Value)
{
    if (Value != FHandleStyle) {
        FHandleStyle = Value;
        update();
    }
}

void TMMCustomWheel::SetHandleSize(int Value)
{
    Value = std::max(Value, 2);
    if (Value != FHandleSize) {
        FHandleSize = Value;
        update();
    }
}

void TMMCustomWheel::SetHandleMargin(int Value)
{
    Value = std::max(Value, 0);
    if (Value != FHandleMargin) {
        FHandleMargin = Value;
        update();
    }
}

void TMMCustomWheel::SetFrameSpace(int Value)
{
    Value = std::max(Value, 0);
    if (Value != FFrameSpace) {
        FFrameSpace = Value;
        DropBackground();
        ApplyAutoSize();
    }
}

void TMMCustomWheel::SetScaleMargin(int Value)
{
    Value = std::max(Value, 0);
    if (Value != FScaleMargin) {
        FScaleMargin = Value;
        DropBackground();
        ApplyAutoSize();
    }
}

void TMMCustomWheel::SetHandleColor(TColor Value)
{
    if (Value != FHandleColor) {
        FHandleColor = Value;
        update();
    }
}

void TMMCustomWheel::SetFocusedColor(TColor Value)
{
    if (Value != FFocusedColor) {
        FFocusedColor = Value;
        update();
    }
}

void TMMCustomWheel::SetFocusAction(TMMFocusAction Value)
{
    if (Value != FFocusAction) {
        FFocusAction = Value;
        DropBackground();
    }
}

void TMMCustomWheel::SetScrollSize(int Value)
{
    if (Value < 1) {
        throw EMMWheelError(zv::LoadResString(zv::SParameterNotPositive));
    }
    FScrollSize = Value;
}

void TMMCustomWheel::SetLineStep(int Value)
{
    if (Value < 1) {
        throw EMMWheelError(zv::LoadResString(zv::SParameterNotPositive));
    }
    FLineStep = Value;
}

void TMMCustomWheel::SetPageStep(int Value)
{
    if (Value < 1) {
        throw EMMWheelError(zv::LoadResString(zv::SParameterNotPositive));
    }
    FPageStep = Value;
}

void TMMCustomWheel::SetAutoSize(bool Value)
{
    if (Value == FAutoSize) {
        return;
    }
    FAutoSize = Value;
    if (!FAutoSize) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    ApplyAutoSize();
}

void TMMCustomWheel::SetBackBmp(const QImage& Value)
{
    FBackBmp = Value.isNull() ? BuiltInBitmap() : Value;
    DropBackground();
    ApplyAutoSize();
}

int TMMCustomWheel::ScaleRoom() const
{
    return FScale.Visible() ? FScale.BandSize() + FScaleMargin : 0;
}

QSize TMMCustomWheel::AutoSizeOf() const
{
    const int frame = 2 * (Bevel().BevelExtent() + FFrameSpace + ScaleRoom());
    return QSize(FBackBmp.width() + frame, FBackBmp.height() + frame);
}

void TMMCustomWheel::ApplyAutoSize()
{
    if (!FAutoSize || FLoading) {
        return;
    }
    // While AutoSize is on, the picture decides the size, whatever bounds are asked for.
    setFixedSize(AutoSizeOf());
}

void TMMCustomWheel::LayoutChanged()
{
    DropBackground();
    ApplyAutoSize();
}

// The background has the client's size: a new size needs a new one.
void TMMCustomWheel::BoundsChanged()
{
    DropBackground();
}

void TMMCustomWheel::ColorChanged()
{
    DropBackground();
}

void TMMCustomWheel::focusInEvent(QFocusEvent* Event)
{
    TMMCustomControl::focusInEvent(Event);
    DropBackground();
}

void TMMCustomWheel::focusOutEvent(QFocusEvent* Event)
{
    TMMCustomControl::focusOutEvent(Event);
    DropBackground();
}

void TMMCustomWheel::DropBackground()
{
    FBackground = QImage();
    update();
}

void TMMCustomWheel::UpdateAngle()
{
    const double r = FMinimum < FMaximum ? double(FValue - FMinimum) / double(FMaximum - FMinimum) : 0.0;
    const int span = FEndAngle < FStartAngle ? 360 : FStartAngle - FEndAngle + 360;
    int angle = RoundEven(FStartAngle - r * span);
    if (angle < 0) {
        angle += 360;
    }
    FAngle = angle;
}

int TMMCustomWheel::CurrentRadius() const
{
    if (FRadius != 0) {
        return FRadius;
    }
    return std::min(width(), height()) / 2 - FHandleMargin - Bevel().BevelExtent() - FFrameSpace
        - ScaleRoom();
}

QPoint TMMCustomWheel::HandleCentre() const
{
    const double a = FAngle * std::numbers::pi / 180.0;
    const int r = CurrentRadius();
    return QPoint(width() / 2 + RoundEven(std::cos(a) * r), height() / 2 - RoundEven(std::sin(a) * r));
}

const QImage& TMMCustomWheel::Background()
{
    if (!FBackground.isNull()) {
        return FBackground;
    }
    const int e = Bevel().BevelExtent();
    const QSize size(std::max(width() - 2 * e, 1), std::max(height() - 2 * e, 1));
    FBackground = QImage(size, QImage::Format_ARGB32_Premultiplied);
    FBackground.fill(zv::ColorToQColor(Color()));
    QPainter p(&FBackground);
    const QRect whole(QPoint(0, 0), size);
    const int inset = ScaleRoom() + FFrameSpace;
    const QRect inner = whole.adjusted(inset, inset, -inset, -inset);
    if (!FBackBmp.isNull() && inner.isValid()) {
        // Drawn see-through: the pixels of the picture's bottom-left colour are left out.
        QImage keyed = FBackBmp.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = keyed.pixel(0, keyed.height() - 1) | 0xFF000000u;
        for (int y = 0; y < keyed.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(keyed.scanLine(y));
            for (int x = 0; x < keyed.width(); ++x) {
                if ((row[x] | 0xFF000000u) == key) {
                    row[x] = 0;
                }
            }
        }
        p.drawImage(inner, keyed);
    }
    if (FScale.Visible()) {
        const QRect ring = whole.adjusted(FFrameSpace, FFrameSpace, -FFrameSpace, -FFrameSpace);
        FScale.DrawRing(p, ring);
    }
    if (hasFocus() && (FFocusAction == faFrameRect || FFocusAction == faAll)) {
        const int grow = 2 - FFrameSpace;
        const QRect focus = whole.adjusted(-grow, -grow, grow - 1, grow - 1);
        QPen pen(QColor(255, 255, 255) == zv::ColorToQColor(Color()) ? Qt::black : Qt::white);
        pen.setStyle(Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(focus);
    }
    return FBackground;
}

void TMMCustomWheel::Paint(QPainter& Canvas)
{
    Bevel().PaintBevel(Canvas, rect(), true);
    const int e = Bevel().BevelExtent();
    Canvas.drawImage(QPoint(e, e), Background());
    DrawHandle(Canvas, FAngle);
}

void TMMCustomWheel::DrawHandle(QPainter& Canvas, int Angle)
{
    Q_UNUSED(Angle)
    const bool focused = hasFocus();
    const QPoint c = HandleCentre();
    if (FHandleStyle == hsOwnerDraw) {
        if (OnDrawHandle) {
            OnDrawHandle(this, Canvas, rect(), c, focused);
        }
        return;
    }
    const bool lit = focused && (FFocusAction == faHandleColor || FFocusAction == faAll);
    const QColor colour = zv::ColorToQColor(lit ? FFocusedColor : FHandleColor);
    const int h = FHandleSize / 2;
    Canvas.save();
    Canvas.setRenderHint(QPainter::Antialiasing);
    Canvas.setPen(Qt::NoPen);
    Canvas.setBrush(colour);
    Canvas.drawEllipse(QRectF(c.x() - h, c.y() - h, 2 * h, 2 * h));
    Canvas.restore();
}

void TMMCustomWheel::ValueFromPos(QPoint Pos)
{
    const int dx = Pos.x() - width() / 2;
    const int dy = height() / 2 - Pos.y();
    if (dx == 0 && dy == 0) {
        return;
    }
    double a = std::atan2(double(dy), double(dx)) * 180.0 / std::numbers::pi;
    if (a < 0) {
        a += 360;
    }
    const double s = FStartAngle;
    const double g = FEndAngle < FStartAngle ? FStartAngle : FEndAngle;
    // Inside the gap the pointer goes to the nearer edge.
    if (s < a && a < g) {
        a = (g - s) / 2 > a - s ? s : g;
    }
    const double turn = 360 - g + s;
    if (FMaximum >= FMinimum && turn != 0) {
        double d = s - a;
        if (d < 0) {
            d += 360;
        }
        SetValue(FMinimum + RoundEven(d / turn * (FMaximum - FMinimum)));
    } else {
        SetValue(FMinimum);
    }
}

void TMMCustomWheel::mousePressEvent(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton || FTracking) {
        TMMCustomControl::mousePressEvent(Event);
        return;
    }
    FTracking = true;
    setFocus(Qt::MouseFocusReason);
    if (FUpDown) {
        FDragY = Event->position().toPoint().y();
        FDragValue = FValue;
    } else {
        ValueFromPos(Event->position().toPoint());
    }
}

void TMMCustomWheel::mouseMoveEvent(QMouseEvent* Event)
{
    if (!FTracking || !(Event->buttons() & Qt::LeftButton)) {
        return;
    }
    const QPoint pos = Event->position().toPoint();
    if (FUpDown) {
        SetValue(
            FDragValue + RoundEven((long double)(FMaximum - FMinimum) * (FDragY - pos.y()) / FScrollSize));
    } else {
        ValueFromPos(pos);
    }
}

void TMMCustomWheel::mouseReleaseEvent(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton || !FTracking) {
        return;
    }
    FTracking = false;
    if (!FUpDown) {
        ValueFromPos(Event->position().toPoint());
    }
}

void TMMCustomWheel::keyPressEvent(QKeyEvent* Event)
{
    switch (Event->key()) {
    case Qt::Key_PageUp:
        SetValue(FValue + FPageStep);
        break;
    case Qt::Key_PageDown:
        SetValue(FValue - FPageStep);
        break;
    case Qt::Key_End:
        SetValue(FMinimum);
        break;
    case Qt::Key_Home:
        SetValue(FMaximum);
        break;
    case Qt::Key_Up:
    case Qt::Key_Right:
        SetValue(FValue + FLineStep);
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        SetValue(FValue - FLineStep);
        break;
    default:
        TMMCustomControl::keyPressEvent(Event);
        return;
    }
    Event->accept();
}

// ---- the knob on a mixer control -------------------------------------------------------------

TMMCustomMixerWheel::TMMCustomMixerWheel(QWidget* parent)
    : TMMCustomWheel(parent)
{
    FLink.OnValueChange = [this](TMMCustomMixerControl*) { ReadValue(); };
    FLink.OnControlChange = [this](TMMCustomMixerControl*) { Refresh(); };
    Refresh();
}

TMMCustomMixerWheel::~TMMCustomMixerWheel()
{
    FLink.OnValueChange = nullptr;
    FLink.OnControlChange = nullptr;
}

void TMMCustomMixerWheel::SetControl(TMMCustomMixerControl* Value)
{
    if (Value) {
        const TMMControlClass c = Value->ControlClass();
        if (c != ccFader && c != ccNumber && c != ccSlider && c != ccTime) {
            throw EMMMixerControlsError(zv::LoadResString(zv::SInvalidControlClass));
        }
    }
    FLink.SetControl(Value);
    Refresh();
}

void TMMCustomMixerWheel::SetChannel(TMMChannel Value)
{
    FChannel = Value;
    Refresh();
}

void TMMCustomMixerWheel::SetItem(TMMItemIndex Value)
{
    FItem = Value;
    Refresh();
}

void TMMCustomMixerWheel::SetEnabled(bool Value)
{
    FEnabled = Value;
    Refresh();
}

void TMMCustomMixerWheel::Loaded()
{
    TMMCustomWheel::Loaded();
    Refresh();
}

bool TMMCustomMixerWheel::ValidForItem() const
{
    return IsValidForItem(FLink.Control(), FItem);
}

void TMMCustomMixerWheel::Refresh()
{
    TMMCustomMixerControl* control = FLink.Control();
    if (!control) {
        setEnabled(false);
        return;
    }
    setEnabled(FEnabled && ValidForItem() && control->IsEnabled());
    const TMMControlInfo& info = control->ControlInfo();
    const long double range = (long double)(info.MaxValue - info.MinValue);
    const std::uint32_t steps = info.Steps != 0 ? info.Steps : 32;
    FStep = range / steps;
    // range / step is the step count itself; dividing back could land a hair below it.
    const int maximum = FStep != 0 ? int(std::min<std::uint32_t>(steps, INT_MAX)) : 1;
    SetRange(0, maximum);
    ReadValue();
}

void TMMCustomMixerWheel::ReadValue()
{
    TMMCustomMixerControl* control = FLink.Control();
    // Locked, so the value set here is not written back; reading, so it is no turn of the knob.
    struct Reading {
        TMMCustomMixerWheel& wheel;
        const bool wasReading;
        explicit Reading(TMMCustomMixerWheel& w)
            : wheel(w)
            , wasReading(w.FReading)
        {
            wheel.FLink.Lock();
            wheel.FReading = true;
        }
        ~Reading()
        {
            wheel.FReading = wasReading;
            wheel.FLink.Unlock();
        }
    } reading(*this);
    if (control && ValidForItem() && FStep != 0 && Minimum() < Maximum()) {
        const long double raw = (long double)control->GetItemUnsigned(FChannel, FItem);
        SetValue(RoundEven((raw - control->ControlInfo().MinValue) / FStep));
    } else {
        SetValue(0);
    }
}

void TMMCustomMixerWheel::ValueChanged()
{
    TMMCustomMixerControl* control = FLink.Control();
    if (control && !FLink.IsLocked() && ValidForItem()) {
        FLink.Lock();
        struct Unlock {
            TMMControlLink& link;
            ~Unlock() { link.Unlock(); }
        } unlock { FLink };
        if (control->ControlInfo().Flags & cfDisabled) {
            ReadValue();
        } else {
            control->SetItemUnsigned(
                FChannel, FItem, std::uint32_t(RoundEven(Value() * FStep + control->ControlInfo().MinValue)));
        }
    }
    TMMCustomWheel::ValueChanged();
}
