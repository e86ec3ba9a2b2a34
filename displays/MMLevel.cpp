#include "displays/MMLevel.h"

#include "platform/ResStrings.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// TMMCustomLevel

TMMCustomLevel::TMMCustomLevel(QWidget* parent)
    : TMMDIBGraphicControl(parent)
    , TMMLevelDisplay(static_cast<QWidget&>(*this))
{
    DIB().SetOwnerClassName(QStringLiteral("TMMLevel"));
    SetColor(clBlack);
    setFont(zv::MakeFont(QStringLiteral("Small Fonts"), 7));
    resize(200, 17);
    ComputeGeometry();
    m_timer = TimerSubscribe(kDisplayTimerTick, false, &TMMCustomLevel::TimerCallback, this);
}

TMMCustomLevel::~TMMCustomLevel()
{
    // After this returns the timer thread no longer calls into the control.
    TimerUnsubscribe(m_timer);
}

void TMMCustomLevel::TimerCallback(TMMTimerHandle, void* data)
{
    static_cast<TMMCustomLevel*>(data)->PeakFall();
}

void TMMCustomLevel::PeakFall()
{
    const int speed = m_peakSpeed.load();
    m_peak.Fall(speed, [speed](int peak) { return speed != 0 ? peak - 1 : 0; });
}

void TMMCustomLevel::RefuseFormat() const
{
    throw EMMLevelError(zv::LoadResString(zv::SInvalidPcmFormat));
}

void TMMCustomLevel::UpdateLevel(int v)
{
    const std::optional<int> level = TakeLevel(v, m_shown, false);
    if (!level) {
        return;
    }
    v = *level;
    const int n = m_geometry.numSpots;
    int c = zv::LevelToSpots(v, m_gain, m_sensitivity, m_logAmp, n);
    if (m_direction == dirSymetric) {
        c /= 2;
    }
    if (c > n) {
        SendGainOverflow();
        c = n;
    }
    if (c >= m_peak.peak && c > 0 && m_numPeaks > 0) {
        m_peak.Raise(c, m_peakDelay);
    }
    if (c == m_shown && !m_peak.redraw) {
        return;
    }
    m_peak.redraw = false;
    m_shown = c;
    // The timer may move the marker before the frame is drawn; the frame shows it as it was now.
    m_framePeak = m_peak.peak;
    if (Showing()) {
        PaintDirectDeferred();
    }
}

void TMMCustomLevel::Reset()
{
    m_shown = 0;
    m_raw = 0;
    m_peak.Reset();
    m_decay.Reset();
}

void TMMCustomLevel::ResetData()
{
    Reset();
    Refresh();
}

void TMMCustomLevel::Refresh()
{
    m_framePeak = m_peak.peak;
    if (!PaintDirect([this] { DrawLevel(); }, TDirectCopy::Now)) {
        update();
    }
}

void TMMCustomLevel::ComputeGeometry()
{
    // The segments are laid out in the screen's device pixels, so every segment and gap is whole
    // pixels wide at any scale.
    const QRect inner = GetInnerRect();
    const qreal ratio = devicePixelRatioF();
    m_geometry = zv::LevelGeometry::Compute(zv::DevicePixels(inner.width(), ratio),
        zv::DevicePixels(inner.height(), ratio), m_kind, m_direction, zv::DevicePixels(m_spotWidth, ratio),
        zv::DevicePixels(m_spotSpace, ratio), m_point1, m_point2);
    m_geometrySize = size();
    m_geometryRatio = ratio;
    DIB().SetDevicePixelRatio(ratio);
    m_inactive.SetDevicePixelRatio(ratio);
    DIB().SetSize(m_geometry.width, m_geometry.height);
    m_inactive.SetSize(m_geometry.width, m_geometry.height);
    m_inactiveDirty = true;
    m_peak.peak = 0;
    m_framePeak = 0;
    m_shown = 0;
}

void TMMCustomLevel::EnsureGeometry()
{
    // A hidden control hears of its new size only when shown; its bounds are already known.
    if (size() != m_geometrySize || devicePixelRatioF() != m_geometryRatio) {
        ComputeGeometry();
    }
}

void TMMCustomLevel::BuildInactive()
{
    for (int i = 0; i < 3; ++i) {
        m_barPixels[static_cast<std::size_t>(i)] = DIB().ColorToPixel(m_colors[static_cast<std::size_t>(i)]);
    }
    TMMDIBDrawScope scope(m_inactive);
    const std::array<std::uint32_t, 3> pixels { m_inactive.ColorToPixel(m_colors[3]),
        m_inactive.ColorToPixel(m_colors[4]), m_inactive.ColorToPixel(m_colors[5]) };
    m_inactive.SetDrawColor(Color());
    m_inactive.Clear();
    zv::LevelGeometry all = m_geometry;
    all.direction = m_direction == dirSymetric ? dirReversed : m_direction;
    zv::DrawLevelSegments(m_inactive, all, pixels, m_inactiveDoted, all.numSpots, 0, 0);
    m_inactiveDirty = false;
}

void TMMCustomLevel::DrawLevel()
{
    if (OnPaint) {
        OnPaint(this);
    }
    EnsureGeometry();
    if (m_inactiveDirty && !m_onDrawBar) {
        BuildInactive();
    }
    const int peak = m_framePeak;
    const int w = m_geometry.width;
    const int h = m_geometry.height;
    TMMDIBDrawScope scope(DIB());
    if (m_onDrawBar) {
        m_onDrawBar(this, DIB(), QRect(0, 0, w, h), m_shown, peak);
    } else {
        DIB().CopyBits(m_inactive, 0, 0, w, h, 0, 0);
        if (isEnabled()) {
            zv::DrawLevelSegments(DIB(), m_geometry, m_barPixels, m_activeDoted, m_shown, peak, m_numPeaks);
        }
    }
}

void TMMCustomLevel::CopyFrame(QPainter& device)
{
    TMMDIBDrawScope scope(DIB());
    DIB().CopyToDevice(device, GetInnerRect(), 0, 0);
}

void TMMCustomLevel::Paint(QPainter& canvas)
{
    TMMGraphicControl::Paint(canvas);
    m_framePeak = m_peak.peak;
    DrawLevel();
    CopyFrame(canvas);
}

void TMMCustomLevel::BoundsChanged()
{
    ComputeGeometry();
}

void TMMCustomLevel::LayoutChanged()
{
    ComputeGeometry();
    update();
}

void TMMCustomLevel::ColorChanged()
{
    m_inactiveDirty = true;
    update();
}

void TMMCustomLevel::changeEvent(QEvent* event)
{
    TMMDIBGraphicControl::changeEvent(event);
    if (event->type() != QEvent::EnabledChange) {
        return;
    }
    if (isEnabled()) {
        ComputeGeometry();
        update();
    } else {
        Reset();
        Refresh();
    }
    UpdateTimer();
}

void TMMCustomLevel::UpdateTimer()
{
    // Paused while disabled or without a marker; one pause at most, so the two causes cannot
    // leave it paused once both are gone.
    const bool pause = !isEnabled() || m_numPeaks == 0;
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

void TMMCustomLevel::SetKind(TMMLevelKind kind)
{
    if (kind == m_kind) {
        return;
    }
    m_kind = kind;
    if ((kind == lkHorizontal && width() < height()) || (kind == lkVertical && width() > height())) {
        resize(height(), width());
    }
    ComputeGeometry();
    update();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection direction)
{
    if (direction == m_direction) {
        return;
    }
    m_direction = direction;
    m_geometry.direction = direction;
    m_inactiveDirty = true;
    update();
}

void TMMCustomLevel::SetSpotWidth(int value)
{
    const QRect inner = GetInnerRect();
    const int extent = std::max(m_kind == lkHorizontal ? inner.width() : inner.height(), 1);
    value = std::clamp(value, 1, std::max(extent / 3, 1));
    if (value == m_spotWidth) {
        return;
    }
    m_spotWidth = value;
    ComputeGeometry();
    update();
}

void TMMCustomLevel::SetSpotSpace(int value)
{
    value = std::clamp(value, 0, 10);
    if (value == m_spotSpace) {
        return;
    }
    m_spotSpace = value;
    ComputeGeometry();
    update();
}

TColor TMMCustomLevel::ZoneColor(int index) const
{
    return index >= 0 && index < 6 ? m_colors[static_cast<std::size_t>(index)] : clBlack;
}

void TMMCustomLevel::SetZoneColor(int index, TColor color)
{
    if (index < 0 || index >= 6 || m_colors[static_cast<std::size_t>(index)] == color) {
        return;
    }
    m_colors[static_cast<std::size_t>(index)] = color;
    m_inactiveDirty = true;
    if (index < 3) {
        m_barPixels[static_cast<std::size_t>(index)] = DIB().ColorToPixel(color);
    }
    update();
}

void TMMCustomLevel::SetInactiveDoted(bool value)
{
    if (value == m_inactiveDoted) {
        return;
    }
    m_inactiveDoted = value;
    m_inactiveDirty = true;
    update();
}

void TMMCustomLevel::SetActiveDoted(bool value)
{
    if (value == m_activeDoted) {
        return;
    }
    m_activeDoted = value;
    m_inactiveDirty = true;
    update();
}

void TMMCustomLevel::SetPoint1(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point1) {
        return;
    }
    m_point1 = percent;
    ComputeGeometry();
    update();
}

void TMMCustomLevel::SetPoint2(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point2) {
        return;
    }
    m_point2 = percent;
    ComputeGeometry();
    update();
}

void TMMCustomLevel::SetGain(int value)
{
    value = std::clamp(value, -8, 32);
    if (value == m_gain) {
        return;
    }
    m_gain = value;
    update();
}

void TMMCustomLevel::SetSensitivy(int dB)
{
    // Takes effect with the next block.
    m_sensitivity = std::clamp(dB, -90, -9);
}

void TMMCustomLevel::SetLogAmp(bool value)
{
    if (value == m_logAmp) {
        return;
    }
    m_logAmp = value;
    update();
}

void TMMCustomLevel::SetNumPeaks(int value)
{
    value = std::clamp(value, 0, 5);
    if (value == m_numPeaks) {
        return;
    }
    m_numPeaks = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    UpdateTimer();
    update();
}

void TMMCustomLevel::SetPeakDelay(int value)
{
    value = std::clamp(value, 0, 50);
    if (value == m_peakDelay) {
        return;
    }
    m_peakDelay = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    update();
}

void TMMCustomLevel::SetPeakSpeed(int value)
{
    value = std::clamp(value, 0, 50);
    if (value == m_peakSpeed) {
        return;
    }
    m_peakSpeed = value;
    m_peak.counter = m_peakDelay * 2 + 1;
    update();
}

int TMMCustomLevel::Value() const
{
    return zv::ShownToPercent(m_shown, m_geometry.numSpots, m_gain, m_sensitivity, m_logAmp);
}

void TMMCustomLevel::SetValue(int percent)
{
    EnsureGeometry();
    UpdateLevel(zv::PercentToLevel(percent));
}

void TMMCustomLevel::SetOnDrawBar(TMMLevelDrawBar handler)
{
    const bool cleared = m_onDrawBar && !handler;
    m_onDrawBar = std::move(handler);
    if (cleared) {
        m_inactiveDirty = true;
    }
    update();
}

// ---------------------------------------------------------------------------------------------
// TMMLevelScale

TMMLevelScale::TMMLevelScale(QWidget* parent)
    : TMMGraphicControl(parent)
{
    SetColor(clBlack);
    setFont(zv::MakeFont(QStringLiteral("Small Fonts"), 6));
    resize(200, 7);
    m_scale.OnChange = [this] { update(); };
}

void TMMLevelScale::SetScaleTicks(int value)
{
    // More label positions than a screen has pixels only cost time.
    value = std::clamp(value, 2, 10000);
    if (value == m_scaleTicks) {
        return;
    }
    m_scaleTicks = value;
    update();
}

void TMMLevelScale::SetPoint1(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point1) {
        return;
    }
    m_point1 = percent;
    update();
}

void TMMLevelScale::SetPoint2(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point2) {
        return;
    }
    m_point2 = percent;
    update();
}

TColor TMMLevelScale::ScaleColor(int index) const
{
    return index >= 0 && index < 3 ? m_colors[static_cast<std::size_t>(index)] : clBlack;
}

void TMMLevelScale::SetScaleColor(int index, TColor color)
{
    if (index < 0 || index >= 3 || m_colors[static_cast<std::size_t>(index)] == color) {
        return;
    }
    m_colors[static_cast<std::size_t>(index)] = color;
    update();
}

void TMMLevelScale::SetSensitivy(int dB)
{
    dB = std::clamp(dB, -90, -9);
    if (dB == m_sensitivity) {
        return;
    }
    m_sensitivity = dB;
    update();
}

void TMMLevelScale::SetLogAmp(bool value)
{
    if (value == m_logAmp) {
        return;
    }
    m_logAmp = value;
    update();
}

void TMMLevelScale::SetKind(TMMLevelKind kind)
{
    if (kind == m_kind) {
        return;
    }
    m_kind = kind;
    if ((kind == lkHorizontal && width() < height()) || (kind == lkVertical && width() > height())) {
        resize(height(), width());
    }
    update();
}

void TMMLevelScale::SetDirection(TMMLevelDirection direction)
{
    if (direction == m_direction) {
        return;
    }
    m_direction = direction;
    update();
}

void TMMLevelScale::SetScalePos(TMMScalePos pos)
{
    if (pos == m_scalePos) {
        return;
    }
    m_scalePos = pos;
    update();
}

QRect TMMLevelScale::LabelArea(QList<std::pair<QRect, bool>>* bands) const
{
    QRect area = rect();
    if (!m_scale.Visible()) {
        return area;
    }
    const QFontMetrics metrics(font());
    const bool horizontal = m_kind == lkHorizontal;
    const bool reversed = m_direction == dirReversed;
    const int a = horizontal ? metrics.horizontalAdvance(QStringLiteral("0")) / 2 : metrics.height() / 2;
    const int size = m_scale.BandSize();
    // Bands are shifted so that their ticks meet the label centres.
    int start = 0;
    int length = 0;
    if (horizontal) {
        start = reversed ? a : -(a + 1);
        length = reversed ? width() - 1 : width();
    } else {
        start = reversed ? -a : a;
        length = height() - 1;
    }
    const bool first = m_scalePos == spAboveOrLeft || m_scalePos == spBoth;
    const bool second = m_scalePos == spBelowOrRight || m_scalePos == spBoth;
    if (horizontal) {
        if (first) {
            if (bands) {
                bands->append({ QRect(start, 0, length, size), true });
            }
            area.setTop(area.top() + size);
        }
        if (second) {
            if (bands) {
                bands->append({ QRect(start, height() - size, length, size), false });
            }
            area.setBottom(area.bottom() - size);
        }
    } else {
        if (first) {
            if (bands) {
                bands->append({ QRect(0, start, size, length), true });
            }
            area.setLeft(area.left() + size);
        }
        if (second) {
            if (bands) {
                bands->append({ QRect(width() - size, start, size, length), false });
            }
            area.setRight(area.right() - size);
        }
    }
    return area;
}

QList<TMMLevelScale::Label> TMMLevelScale::Labels() const
{
    QList<Label> labels;
    const QRect area = LabelArea(nullptr);
    if (area.width() <= 0 || area.height() <= 0) {
        return labels;
    }
    const QFontMetrics metrics(font());
    const bool horizontal = m_kind == lkHorizontal;
    const int ticks = m_scaleTicks;
    const int h = metrics.height();
    const int w = metrics.horizontalAdvance(QString::number(m_sensitivity));
    const int room = horizontal ? width() : height();
    const int unit = horizontal ? w : h;
    // Every e-th position gets a label; for e = ticks a single label always qualifies.
    int e = 1;
    while (e < ticks && (ticks - 1) / e * unit > room) {
        ++e;
    }
    // Which end of the label area holds 0 dB.
    const bool zeroAtStart = horizontal ? m_direction == dirReversed : m_direction != dirReversed;
    const int extent = horizontal ? area.width() : area.height();
    const double t = zv::LinearFloor(m_sensitivity);
    for (int m = 0; m < ticks; m += e) {
        const int j = zeroAtStart ? m : ticks - 1 - m;
        const int p = (j * (extent - 1) + (ticks - 1) / 2) / (ticks - 1);
        const int k = ticks - 1 - m;
        int value = 0;
        if (m_logAmp) {
            value = m * m_sensitivity / (ticks - 1);
        } else {
            value = static_cast<int>(
                std::nearbyint(20.0 * std::log10((t + (32767.0 - t) * k / (ticks - 1)) / 32767.0)));
        }
        const QString text = QString::number(value);
        const double level = 32767.0 * k / (ticks - 1);
        TColor color = m_colors[1];
        if (level > m_point2 * 32767.0 / 100.0) {
            color = m_colors[2];
        } else if (level <= m_point1 * 32767.0 / 100.0) {
            color = m_colors[0];
        }
        const int tw = metrics.horizontalAdvance(text);
        QRect r;
        if (horizontal) {
            const int x = zeroAtStart ? area.x() + p : area.x() + p - tw;
            r = QRect(x, area.y() + (area.height() - h) / 2, tw, h);
        } else {
            const int y = zeroAtStart ? area.y() + p : area.y() + p - h;
            const int column = area.x() + (area.width() - w) / 2;
            r = QRect(column + w - tw, y, tw, h);
        }
        // Only whole labels are drawn.
        if (horizontal ? (r.left() < 0 || r.right() >= width()) : (r.top() < 0 || r.bottom() >= height())) {
            continue;
        }
        labels.append({ r, text, color });
    }
    return labels;
}

void TMMLevelScale::Paint(QPainter& canvas)
{
    canvas.fillRect(rect(), zv::ColorToQColor(Color()));
    canvas.setFont(font());
    if (m_scale.Visible()) {
        QList<std::pair<QRect, bool>> bands;
        LabelArea(&bands);
        const bool swap = (m_kind == lkVertical) != (m_direction == dirReversed);
        const int p1 = swap ? 100 - m_point2 : m_point1;
        const int p2 = swap ? 100 - m_point1 : m_point2;
        // The owner's own settings for this paint: they must not ask for another repaint.
        const auto changed = std::move(m_scale.OnChange);
        m_scale.OnChange = nullptr;
        m_scale.SetColor(swap ? m_colors[2] : m_colors[0]);
        m_scale.SetZone2Color(m_colors[1]);
        m_scale.SetZone3Color(swap ? m_colors[0] : m_colors[2]);
        m_scale.SetZone1End(MulDiv(p1 - 1, m_scale.TickCount(), 100));
        m_scale.SetZone2End(MulDiv(p2 - 1, m_scale.TickCount(), 100));
        for (const auto& [band, first] : bands) {
            m_scale.DrawStraight(canvas, band, first);
        }
        m_scale.OnChange = changed;
    }
    for (const Label& label : Labels()) {
        canvas.setPen(zv::ColorToQColor(label.color));
        canvas.drawText(label.rect, Qt::AlignLeft | Qt::AlignTop, label.text);
    }
}
