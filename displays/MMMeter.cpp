#include "displays/MMMeter.h"

#include "displays/MMSetter.h"
#include "platform/ResStrings.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// A one-pixel line from a up to but not including b, straight into a colour bitmap; the pixels
// outside it are skipped (the pivot lies below the bitmap).
void PixelLine(QImage& image, QPoint a, QPoint b, QRgb color)
{
    const int w = image.width();
    const int h = image.height();
    zv::ForEachLinePoint(a, b, [&image, w, h, color](QPoint p) {
        if (p.x() >= 0 && p.y() >= 0 && p.x() < w && p.y() < h) {
            reinterpret_cast<QRgb*>(image.scanLine(p.y()))[p.x()] = color;
        }
    });
}

constexpr int kMaxDistance = 10000; // pixels

} // namespace

TMMCustomMeter::TMMCustomMeter(QWidget* parent)
    : TMMGraphicControl(parent)
    , TMMLevelDisplay(static_cast<QWidget&>(*this))
{
    SetColor(clBlack);
    setFont(zv::MakeFont(QStringLiteral("MS Sans Serif"), 8, true));
    resize(170, 90);
    Layout();
    m_timer = TimerSubscribe(kDisplayTimerTick, false, &TMMCustomMeter::TimerCallback, this);
}

TMMCustomMeter::~TMMCustomMeter()
{
    TimerUnsubscribe(m_timer);
}

void TMMCustomMeter::TimerCallback(TMMTimerHandle, void* data)
{
    static_cast<TMMCustomMeter*>(data)->PeakFall();
}

void TMMCustomMeter::PeakFall()
{
    const int speed = m_peakSpeed.load();
    const int shown = m_shown.load();
    // Falls towards the level needle and rests on it.
    m_peak.Fall(speed, [speed, shown](int peak) { return speed != 0 ? std::max(peak - 500, shown) : shown; });
}

QPoint TMMCustomMeter::ValuePoint(int x, int r) const
{
    return zv::NeedlePoint(x, r, m_w, m_h, Px(m_needleOffset), m_scaleAngle);
}

void TMMCustomMeter::RefuseFormat() const
{
    throw EMMMeterError(zv::LoadResString(zv::SInvalidPcmFormat));
}

void TMMCustomMeter::UpdateLevel(int v)
{
    const std::optional<int> level = TakeLevel(v, m_shown, true);
    if (!level) {
        return;
    }
    v = *level;
    int u = zv::LevelToNeedle(v, m_gain, m_sensitivity, m_logAmp);
    if (u >= zv::kFullScale) {
        SendGainOverflow();
        u = zv::kFullScale;
    }
    if (u > m_peak.peak && m_showPeak) {
        m_peak.Raise(u, m_peakDelay);
    }
    if (u == m_shown && !m_peak.redraw) {
        return;
    }
    m_peak.redraw = false;
    m_shown = u;
    // The timer may move the peak needle before the frame is drawn; the frame shows it as it was now.
    m_framePeak = m_peak.peak;
    if (Showing()) {
        PaintDirectDeferred();
    }
}

void TMMCustomMeter::Reset()
{
    m_raw = 0;
    m_peak.Reset();
    m_framePeak = 0;
    m_shown = 0;
    m_decay.Reset();
}

void TMMCustomMeter::ResetData()
{
    Reset();
    Repaint();
}

void TMMCustomMeter::Repaint()
{
    m_framePeak = m_peak.peak;
    if (!PaintDirect([this] { DrawWork(); }, TDirectCopy::Now)) {
        update();
    }
}

void TMMCustomMeter::Layout()
{
    const QRect inner = GetInnerRect();
    m_ratio = devicePixelRatioF();
    m_w = std::max(Px(inner.width()), 0);
    m_h = std::max(Px(inner.height()), 0);
    m_layoutSize = size();
    m_face = QImage(m_w, m_h, QImage::Format_RGB32);
    m_work = QImage(m_w, m_h, QImage::Format_RGB32);
    m_faceDirty = true;
    m_drawnValid = false;
    Reset();
}

void TMMCustomMeter::EnsureLayout()
{
    if (size() != m_layoutSize || devicePixelRatioF() != m_ratio) {
        Layout();
    }
}

void TMMCustomMeter::BoundsChanged()
{
    Layout();
    Repaint();
}

void TMMCustomMeter::LayoutChanged()
{
    Layout();
    update();
}

void TMMCustomMeter::ColorChanged()
{
    FaceChanged();
}

void TMMCustomMeter::FaceChanged()
{
    m_faceDirty = true;
    update();
}

void TMMCustomMeter::changeEvent(QEvent* event)
{
    TMMGraphicControl::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        Reset();
        Repaint();
        UpdateTimer();
    } else if (event->type() == QEvent::FontChange) {
        FaceChanged();
    }
}

void TMMCustomMeter::UpdateTimer()
{
    // One pause at most for both causes, so neither can leave the other's pause behind.
    const bool pause = !isEnabled() || !m_showPeak;
    if (pause == m_timerPaused) {
        return;
    }
    m_timerPaused = pause;
    if (pause) {
        TimerPause(m_timer);
    } else {
        TimerResume(m_timer);
    }
}

void TMMCustomMeter::DrawFace()
{
    if (m_w <= 0 || m_h <= 0) {
        return;
    }
    QPainter painter(&m_work);
    if (m_backGround.isNull()) {
        painter.fillRect(0, 0, m_w, m_h, zv::ColorToQColor(Color()));
    } else {
        painter.drawImage(QRect(0, 0, m_w, m_h), m_backGround);
    }

    const int r = Radius();
    m_labelRects.clear();
    if (m_drawScale && m_scaleTicks > 1) {
        const QFont labelFont = zv::DeviceFont(zv::MakeFont(QStringLiteral("Small Fonts"), 6), m_ratio);
        const int h1 = Px(m_scaleHeight1);
        const int h2 = Px(m_scaleHeight2);
        const int gap = Px(2);
        const QFontMetrics metrics(labelFont);
        painter.setFont(labelFont);
        const int last = m_scaleTicks - 1;
        const double t = zv::LinearFloor(m_sensitivity);
        for (int i = 0; i <= last; ++i) {
            const int x = static_cast<int>(32767LL * i / last);
            const bool shortTick = m_enlargeEvery != 0 && i != last && i % m_enlargeEvery != 0;
            int from = 0;
            int to = 0;
            if (m_scaleOrigin == soInner) {
                from = r - h2 - gap;
                to = shortTick ? r + h1 - h2 - gap : r - gap;
            } else {
                from = r - gap;
                to = shortTick ? r + h1 - h2 - gap : r - h2 - gap;
            }
            TColor color = m_colors[1];
            if (x > m_point2 * 32767.0 / 100.0) {
                color = m_colors[2];
            } else if (x <= m_point1 * 32767.0 / 100.0) {
                color = m_colors[0];
            }
            zv::PlatformLine(painter, ValuePoint(x, from), ValuePoint(x, to), color);

            if (m_textEvery > 0 && i % m_textEvery == 0) {
                int number = 0;
                if (m_logAmp) {
                    number = (m_scaleTicks - i - 1) * m_sensitivity / last;
                } else {
                    number = static_cast<int>(
                        std::nearbyint(20.0 * std::log10((t + (32767.0 - t) * i / last) / 32767.0)));
                }
                const QString text = QString::number(number);
                const QString digits = QString::number(std::abs(number));
                const QPoint anchor = ValuePoint(x, r - gap);
                // Digits centred over the tick, the sign to their left; a label that would stick
                // out of the face (the first and last of a wide scale) is moved in whole.
                const int textWidth = metrics.horizontalAdvance(text) + 1;
                int tx = anchor.x() + metrics.horizontalAdvance(digits) / 2 - textWidth + 2;
                tx = std::max(0, std::min(tx, m_w - textWidth));
                const int ty = anchor.y() - metrics.height() - Px(3);
                const QRect box(tx, ty, textWidth, metrics.height());
                painter.setPen(zv::ColorToQColor(m_fontColor));
                painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
                m_labelRects.append(box);
            }
        }
    }
    if (!m_caption.isEmpty()) {
        const QFont captionFont = zv::DeviceFont(font(), m_ratio);
        const QFontMetrics metrics(captionFont);
        const int bottom = m_h - m_h / 16;
        const int top = bottom - metrics.height();
        painter.setFont(captionFont);
        painter.setPen(zv::ColorToQColor(m_fontColor));
        painter.drawText(QRect(0, top, m_w, bottom - top), Qt::AlignHCenter | Qt::AlignTop, m_caption);
    }
    painter.end();
    m_face = m_work.copy();
    m_faceDirty = false;
}

TMMCustomMeter::NeedleEnds TMMCustomMeter::CurrentEnds() const
{
    const int r = Radius();
    return { ValuePoint(m_shown, r), m_showPeak ? ValuePoint(m_framePeak, r) : QPoint(INT_MIN, INT_MIN) };
}

void TMMCustomMeter::DrawNeedles()
{
    const QPoint pivot = Pivot();
    const NeedleEnds ends = CurrentEnds();
    m_drawnEnds = ends;
    m_drawnValid = true;
    const int needleWidth = Px(m_needleWidth);
    if (needleWidth <= 1) {
        if (m_showPeak) {
            PixelLine(m_work, pivot, ends.peak, zv::ColorToQRgb(m_colors[4]));
        }
        PixelLine(m_work, pivot, ends.level, zv::ColorToQRgb(m_colors[3]));
        return;
    }
    QPainter painter(&m_work);
    if (m_showPeak) {
        painter.setPen(QPen(zv::ColorToQColor(m_colors[4]), needleWidth));
        painter.drawLine(pivot, ends.peak);
    }
    painter.setPen(QPen(zv::ColorToQColor(m_colors[3]), needleWidth));
    painter.drawLine(pivot, ends.level);
}

bool TMMCustomMeter::RenderFrame(bool shown)
{
    EnsureLayout();
    // Every change of the face (colours, needle sizes, scale, size) marks it dirty.
    if (shown && m_drawnValid && !m_faceDirty && CurrentEnds() == m_drawnEnds) {
        return false;
    }
    DrawWork();
    return true;
}

void TMMCustomMeter::DrawWork()
{
    EnsureLayout();
    if (m_w <= 0 || m_h <= 0) {
        return;
    }
    if (m_faceDirty) {
        DrawFace();
    } else {
        std::copy_n(m_face.constBits(), m_face.sizeInBytes(), m_work.bits());
    }
    DrawNeedles();
    if (OnPostPaint) {
        OnPostPaint(this);
    }
}

void TMMCustomMeter::CopyFrame(QPainter& device)
{
    if (m_w > 0 && m_h > 0) {
        DrawWorkTo(device);
    }
}

void TMMCustomMeter::DrawWorkTo(QPainter& device) const
{
    if (m_ratio == 1.0) {
        device.drawImage(GetInnerRect().topLeft(), m_work);
        return;
    }
    // The work bitmap holds device pixels: drawn at their own ratio, nothing is resampled.
    const QPointF at = GetInnerRect().topLeft();
    device.drawImage(QRectF(at, QSizeF(m_w / m_ratio, m_h / m_ratio)), m_work);
}

void TMMCustomMeter::Paint(QPainter& canvas)
{
    Bevel().PaintBevel(canvas, rect(), true);
    EnsureLayout();
    if (m_w <= 0 || m_h <= 0) {
        return;
    }
    DrawFace();
    m_framePeak = m_peak.peak;
    DrawNeedles();
    DrawWorkTo(canvas);
    if (OnPostPaint) {
        OnPostPaint(this);
    }
}

// ---- settings ----

void TMMCustomMeter::SetCaption(const QString& caption)
{
    if (caption == m_caption) {
        return;
    }
    m_caption = caption;
    FaceChanged();
}

void TMMCustomMeter::SetFontColor(TColor color)
{
    if (color == m_fontColor) {
        return;
    }
    m_fontColor = color;
    FaceChanged();
}

void TMMCustomMeter::SetBackGroundDIB(const QImage& bitmap)
{
    m_backGround = bitmap;
    FaceChanged();
}

TColor TMMCustomMeter::IndexedColor(int index) const
{
    return index >= 0 && index < 5 ? m_colors[static_cast<std::size_t>(index)] : clBlack;
}

void TMMCustomMeter::SetIndexedColor(int index, TColor color)
{
    if (index < 0 || index >= 5 || m_colors[static_cast<std::size_t>(index)] == color) {
        return;
    }
    m_colors[static_cast<std::size_t>(index)] = color;
    FaceChanged();
}

#define ZV_METER_SETTER(Name, member, expr)                                                                  \
    ZV_DEFINE_SETTER(TMMCustomMeter, Name, int, member, expr, FaceChanged)

// Upper bounds keep a repaint finite: lines are drawn pixel by pixel from the pivot, and every tick
// of the scale is drawn; more ticks than needle units would show nothing new.
ZV_METER_SETTER(NeedleOffset, m_needleOffset, std::clamp(value, 0, kMaxDistance))
ZV_METER_SETTER(NeedleWidth, m_needleWidth, std::clamp(value, 0, kMaxDistance))
ZV_METER_SETTER(ScaleHeight1, m_scaleHeight1, std::clamp(value, 0, kMaxDistance))
ZV_METER_SETTER(ScaleHeight2, m_scaleHeight2, std::clamp(value, 0, kMaxDistance))
ZV_METER_SETTER(ScaleAngle, m_scaleAngle, std::clamp(value, 45, 180))
ZV_METER_SETTER(ScaleTicks, m_scaleTicks, std::min(value, zv::kFullScale + 1))
ZV_METER_SETTER(ScaleTicksEnlargeEvery, m_enlargeEvery, std::max(value, 0))
ZV_METER_SETTER(ScaleTicksTextEvery, m_textEvery, value)
ZV_METER_SETTER(TopSpace, m_topSpace, std::clamp(value, -kMaxDistance, kMaxDistance))
ZV_METER_SETTER(Point1, m_point1, std::clamp(value, 1, 100))
ZV_METER_SETTER(Point2, m_point2, std::clamp(value, 1, 100))
ZV_METER_SETTER(Gain, m_gain, std::clamp(value, -8, 32))
ZV_METER_SETTER(Sensitivy, m_sensitivity, std::clamp(value, -90, -9))
#undef ZV_METER_SETTER

ZV_DEFINE_SETTER(TMMCustomMeter, ScaleOrigin, TMMScaleOrigin, m_scaleOrigin, value, FaceChanged)
ZV_DEFINE_SETTER(TMMCustomMeter, DrawScale, bool, m_drawScale, value, FaceChanged)
ZV_DEFINE_SETTER(TMMCustomMeter, LogAmp, bool, m_logAmp, value, FaceChanged)

void TMMCustomMeter::SetPeakDelay(int value)
{
    value = std::clamp(value, 0, 50);
    if (value == m_peakDelay) {
        return;
    }
    m_peakDelay = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    update();
}

void TMMCustomMeter::SetPeakSpeed(int value)
{
    value = std::clamp(value, 0, 50);
    if (value == m_peakSpeed) {
        return;
    }
    m_peakSpeed = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    update();
}

void TMMCustomMeter::SetShowPeak(bool value)
{
    if (value == m_showPeak) {
        return;
    }
    m_showPeak = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    UpdateTimer();
    update();
}

int TMMCustomMeter::Value() const
{
    return zv::ShownToPercent(m_shown, zv::kFullScale, m_gain, m_sensitivity, m_logAmp);
}

void TMMCustomMeter::SetValue(int percent)
{
    EnsureLayout();
    UpdateLevel(zv::PercentToLevel(percent));
}
