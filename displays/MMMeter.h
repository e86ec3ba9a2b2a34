#pragma once

#include "audio/MMConect.h"
#include "audio/MMObj.h"
#include "displays/MMControl.h"
#include "displays/MMLevelDisplay.h"
#include "displays/MMLevelMath.h"
#include "displays/MMScale.h"
#include "displays/MMTimer.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QSize>
#include <array>

// The needle meter: an arc-shaped decibel scale with a level needle and a peak needle. It measures
// like the level bar; it draws with a painter into two bitmaps of its inner size, the face
// (background, scale, caption; redrawn only on window repaints) and the work bitmap (face plus
// needles), which is copied to the window. Like the bar, it draws the needles only when they go
// to the window (at most once per display refresh), as the last block left them.
class TMMCustomMeter : public TMMGraphicControl, public TMMLevelDisplay {
    Q_OBJECT
    // Reachable by name, so a language file can translate it.
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    explicit TMMCustomMeter(QWidget* parent = nullptr);
    ~TMMCustomMeter() override;

    // ---- data side (user-interface thread) ----
    void ResetData() override;

    // ---- settings; out-of-range values are clamped ----
    const QString& Caption() const { return m_caption; }
    void SetCaption(const QString& caption);
    // Colour of the caption and the scale labels.
    TColor FontColor() const { return m_fontColor; }
    void SetFontColor(TColor color);
    const QImage& BackGroundDIB() const { return m_backGround; }
    void SetBackGroundDIB(const QImage& bitmap);
    // 0 ... 2: Scale1Color ... Scale3Color, 3: NeedleColor, 4: PeakColor.
    TColor IndexedColor(int index) const;
    void SetIndexedColor(int index, TColor color);
    TColor Scale1Color() const { return IndexedColor(0); }
    void SetScale1Color(TColor c) { SetIndexedColor(0, c); }
    TColor Scale2Color() const { return IndexedColor(1); }
    void SetScale2Color(TColor c) { SetIndexedColor(1, c); }
    TColor Scale3Color() const { return IndexedColor(2); }
    void SetScale3Color(TColor c) { SetIndexedColor(2, c); }
    TColor NeedleColor() const { return IndexedColor(3); }
    void SetNeedleColor(TColor c) { SetIndexedColor(3, c); }
    TColor PeakColor() const { return IndexedColor(4); }
    void SetPeakColor(TColor c) { SetIndexedColor(4, c); }
    int NeedleOffset() const { return m_needleOffset; }
    void SetNeedleOffset(int pixels);
    int NeedleWidth() const { return m_needleWidth; }
    void SetNeedleWidth(int pixels);
    TMMScaleOrigin ScaleOrigin() const { return m_scaleOrigin; }
    void SetScaleOrigin(TMMScaleOrigin origin);
    int ScaleHeight1() const { return m_scaleHeight1; }
    void SetScaleHeight1(int pixels);
    int ScaleHeight2() const { return m_scaleHeight2; }
    void SetScaleHeight2(int pixels);
    int ScaleAngle() const { return m_scaleAngle; }
    void SetScaleAngle(int degrees); // 45 ... 180
    int ScaleTicks() const { return m_scaleTicks; }
    void SetScaleTicks(int ticks);
    int ScaleTicksEnlargeEvery() const { return m_enlargeEvery; }
    void SetScaleTicksEnlargeEvery(int n);
    int ScaleTicksTextEvery() const { return m_textEvery; }
    void SetScaleTicksTextEvery(int n);
    bool DrawScale() const { return m_drawScale; }
    void SetDrawScale(bool value);
    int TopSpace() const { return m_topSpace; }
    void SetTopSpace(int pixels);
    int Point1() const { return m_point1; }
    void SetPoint1(int percent);
    int Point2() const { return m_point2; }
    void SetPoint2(int percent);
    int Gain() const { return m_gain; }
    void SetGain(int value);
    int Sensitivy() const { return m_sensitivity; }
    void SetSensitivy(int dB);
    bool LogAmp() const { return m_logAmp; }
    void SetLogAmp(bool value);
    int PeakDelay() const { return m_peakDelay; }
    void SetPeakDelay(int value);
    int PeakSpeed() const { return m_peakSpeed; }
    void SetPeakSpeed(int value);
    bool ShowPeak() const { return m_showPeak; }
    void SetShowPeak(bool value);
    int Value() const;
    void SetValue(int percent);

    // After every frame drawn for the window: window repaints, clearing, and once per copy of
    // data frames (the blocks of one display refresh share one frame), just before that copy.
    TNotifyEvent OnPostPaint;

    // ---- state and geometry, for the window and tests ----
    int Shown() const { return m_shown; }
    // The face and needles are drawn in the screen's device pixels: sizes, radius, pivot and
    // points below are device pixels (logical ones at ratio 1).
    QSize InnerSize() const { return { m_w, m_h }; }
    qreal PixelRatio() const { return m_ratio; }
    int Radius() const { return m_h + Px(m_needleOffset) - Px(m_topSpace); }
    QPoint Pivot() const { return { m_w / 2, m_h + Px(m_needleOffset) }; }
    // Where the labels of the scale were drawn last, in inner coordinates.
    const QList<QRect>& LabelRects() const { return m_labelRects; }
    // Where value x (0 ... 32767) lies at radius r, in inner coordinates.
    QPoint ValuePoint(int x, int r) const;
    // The work bitmap as last copied to the window.
    const QImage& WorkBitmap() const { return m_work; }
    // The display timer's work: the peak needle's hold and fall (timer thread).
    void PeakFall();

protected:
    void Paint(QPainter& canvas) override;
    void BoundsChanged() override;
    void LayoutChanged() override;
    void ColorChanged() override;
    void changeEvent(QEvent* event) override;

private:
    static void TimerCallback(TMMTimerHandle handle, void* data);
    void Layout();
    void EnsureLayout();
    void DrawFace();
    void DrawNeedles();
    void DrawWorkTo(QPainter& device) const;
    // Face and needles into the work bitmap; CopyFrame brings it to the window.
    void DrawWork();
    // Skips the frame when the window shows the same face and the needles would end on the same
    // pixels: a steady level moves the needle by less than a pixel most of the time.
    bool RenderFrame(bool shown) override;
    struct NeedleEnds {
        QPoint level;
        QPoint peak; // (INT_MIN, INT_MIN) without the peak needle
        bool operator==(const NeedleEnds&) const = default;
    };
    NeedleEnds CurrentEnds() const;
    void CopyFrame(QPainter& device) override;
    void EnsureReady() override { EnsureLayout(); }
    void UpdateLevel(int v) override;
    [[noreturn]] void RefuseFormat() const override;
    void Reset();
    void Repaint();
    void FaceChanged();
    void UpdateTimer();

    QString m_caption = QStringLiteral("dB");
    TColor m_fontColor = clSilver;
    QImage m_backGround;
    std::array<TColor, 5> m_colors { clGreen, clYellow, clRed, clWhite, clRed };
    int m_needleOffset = 30;
    int m_needleWidth = 1;
    TMMScaleOrigin m_scaleOrigin = soInner;
    int m_scaleHeight1 = 4;
    int m_scaleHeight2 = 8;
    int m_scaleAngle = 90;
    int m_scaleTicks = 41;
    int m_enlargeEvery = 4;
    int m_textEvery = 8;
    bool m_drawScale = true;
    int m_topSpace = 14;
    int m_point1 = 60;
    int m_point2 = 80;
    int m_gain = 0;
    int m_sensitivity = -50;
    bool m_logAmp = true;
    int m_peakDelay = 20;
    std::atomic<int> m_peakSpeed { 0 }; // read by the timer thread
    bool m_showPeak = true;

    int Px(int logical) const { return zv::DevicePixels(logical, m_ratio); }

    int m_w = 0;
    int m_h = 0;
    qreal m_ratio = 1.0;
    QSize m_layoutSize;
    QList<QRect> m_labelRects;
    QImage m_face;
    QImage m_work;
    bool m_faceDirty = true;

    // Written by the user-interface thread; the timer thread reads it to rest the peak needle on it.
    std::atomic<int> m_shown { 0 };
    // The peak needle as the last block left it, for its deferred frame (user-interface thread).
    int m_framePeak = 0;
    // Where the needles of the work bitmap end, and whether it holds a drawn frame at all.
    NeedleEnds m_drawnEnds;
    bool m_drawnValid = false;

    TMMTimerHandle m_timer = 0;
    bool m_timerPaused = false;
};

class TMMMeter : public TMMCustomMeter {
    Q_OBJECT
public:
    using TMMCustomMeter::TMMCustomMeter;
};
