#pragma once

#include "audio/MMConect.h"
#include "audio/MMObj.h"
#include "displays/MMControl.h"
#include "displays/MMLevelDisplay.h"
#include "displays/MMLevelMath.h"
#include "displays/MMScale.h"
#include "displays/MMTimer.h"

#include <QList>
#include <QSize>
#include <array>
#include <functional>

using TMMLevelDrawBar
    = std::function<void(QObject* Sender, TMMDIBCanvas& DIB, const QRect& Rect, int nSpots, int Peak)>;

// The segmented bar level meter. Each block of samples from the connector is reduced to its peak,
// smoothed and mapped onto segments on a decibel scale; a falling peak marker is moved by the
// display timer. The bar is drawn when it goes to the window (at most once per display refresh),
// from the state of the last block: the same picture as drawing every block, for a fraction of
// the work.
class TMMCustomLevel : public TMMDIBGraphicControl, public TMMLevelDisplay {
    Q_OBJECT
public:
    explicit TMMCustomLevel(QWidget* parent = nullptr);
    ~TMMCustomLevel() override;

    // ---- data side (user-interface thread) ----
    void ResetData() override;

    // ---- settings; out-of-range values are clamped ----
    TMMLevelKind Kind() const { return m_kind; }
    void SetKind(TMMLevelKind kind);
    TMMLevelDirection Direction() const { return m_direction; }
    void SetDirection(TMMLevelDirection direction);
    int SpotWidth() const { return m_spotWidth; }
    void SetSpotWidth(int value);
    int SpotSpace() const { return m_spotSpace; }
    void SetSpotSpace(int value);
    // Index 0 ... 2: Bar1Color ... Bar3Color; 3 ... 5: Inactive1Color ... Inactive3Color.
    TColor ZoneColor(int index) const;
    void SetZoneColor(int index, TColor color);
    TColor Bar1Color() const { return ZoneColor(0); }
    void SetBar1Color(TColor c) { SetZoneColor(0, c); }
    TColor Bar2Color() const { return ZoneColor(1); }
    void SetBar2Color(TColor c) { SetZoneColor(1, c); }
    TColor Bar3Color() const { return ZoneColor(2); }
    void SetBar3Color(TColor c) { SetZoneColor(2, c); }
    TColor Inactive1Color() const { return ZoneColor(3); }
    void SetInactive1Color(TColor c) { SetZoneColor(3, c); }
    TColor Inactive2Color() const { return ZoneColor(4); }
    void SetInactive2Color(TColor c) { SetZoneColor(4, c); }
    TColor Inactive3Color() const { return ZoneColor(5); }
    void SetInactive3Color(TColor c) { SetZoneColor(5, c); }
    bool InactiveDoted() const { return m_inactiveDoted; }
    void SetInactiveDoted(bool value);
    bool ActiveDoted() const { return m_activeDoted; }
    void SetActiveDoted(bool value);
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
    int NumPeaks() const { return m_numPeaks; }
    void SetNumPeaks(int value);
    int PeakDelay() const { return m_peakDelay; }
    void SetPeakDelay(int value);
    int PeakSpeed() const { return m_peakSpeed; }
    void SetPeakSpeed(int value);
    // The level shown, in percent; writing shows a level as if a block had it.
    int Value() const;
    void SetValue(int percent);

    // A handler that draws the bar itself; clearing it brings back the segments.
    void SetOnDrawBar(TMMLevelDrawBar handler);
    // Before every frame drawn: on window repaints, clearing, and once per copy of data frames to
    // the window (the blocks of one display refresh share one frame).
    TNotifyEvent OnPaint;

    // ---- state, for the window and tests ----
    int NumSpots() const { return m_geometry.numSpots; }
    const zv::LevelGeometry& Geometry() const { return m_geometry; }
    int Shown() const { return m_shown; }
    // The display timer's work: the peak marker's hold and fall (timer thread).
    void PeakFall();

protected:
    void Paint(QPainter& canvas) override;
    void BoundsChanged() override;
    void LayoutChanged() override;
    void ColorChanged() override;
    void changeEvent(QEvent* event) override;

private:
    static void TimerCallback(TMMTimerHandle handle, void* data);
    void ComputeGeometry();
    void EnsureGeometry();
    // The bar into DIB; CopyFrame brings it to the window.
    void DrawLevel();
    bool RenderFrame(bool) override
    {
        DrawLevel();
        return true;
    }
    void CopyFrame(QPainter& device) override;
    void BuildInactive();
    void EnsureReady() override { EnsureGeometry(); }
    void UpdateLevel(int v) override;
    [[noreturn]] void RefuseFormat() const override;
    void Reset();
    void Refresh();
    void UpdateTimer();

    TMMLevelKind m_kind = lkHorizontal;
    TMMLevelDirection m_direction = dirNormal;
    int m_spotWidth = 1;
    int m_spotSpace = 1;
    std::array<TColor, 6> m_colors { clAqua, clAqua, clRed, clTeal, clTeal, clMaroon };
    bool m_inactiveDoted = false;
    bool m_activeDoted = false;
    int m_point1 = 50;
    int m_point2 = 85;
    int m_gain = 0;
    int m_sensitivity = -35;
    bool m_logAmp = true;
    int m_numPeaks = 1;
    int m_peakDelay = 20;
    std::atomic<int> m_peakSpeed { 0 }; // read by the timer thread
    TMMLevelDrawBar m_onDrawBar;

    zv::LevelGeometry m_geometry;
    QSize m_geometrySize; // control size the geometry was computed for
    qreal m_geometryRatio = 1.0; // and the screen's device pixel ratio
    TMMDIBCanvas m_inactive { QStringLiteral("TMMLevel") };
    bool m_inactiveDirty = true;
    std::array<std::uint32_t, 3> m_barPixels {};

    int m_shown = 0;
    // The marker as the last block left it, for its deferred frame (user-interface thread).
    int m_framePeak = 0;

    TMMTimerHandle m_timer = 0;
    bool m_timerPaused = false;
};

class TMMLevel : public TMMCustomLevel {
    Q_OBJECT
public:
    using TMMCustomLevel::TMMCustomLevel;
};

enum TMMScalePos { spAboveOrLeft, spBelowOrRight, spBoth };

// Decibel labels (and optional tick bands) laid out to match a level bar of the same settings.
class TMMLevelScale : public TMMGraphicControl {
    Q_OBJECT
public:
    explicit TMMLevelScale(QWidget* parent = nullptr);

    int ScaleTicks() const { return m_scaleTicks; }
    void SetScaleTicks(int value); // 2 ... 10000
    int Point1() const { return m_point1; }
    void SetPoint1(int percent);
    int Point2() const { return m_point2; }
    void SetPoint2(int percent);
    TColor ScaleColor(int index) const; // 0 ... 2: Scale1Color ... Scale3Color
    void SetScaleColor(int index, TColor color);
    int Sensitivy() const { return m_sensitivity; }
    void SetSensitivy(int dB);
    bool LogAmp() const { return m_logAmp; }
    void SetLogAmp(bool value);
    TMMLevelKind Kind() const { return m_kind; }
    void SetKind(TMMLevelKind kind);
    TMMLevelDirection Direction() const { return m_direction; }
    void SetDirection(TMMLevelDirection direction);
    TMMLevScale& Scale() { return m_scale; }
    void SetScale(const TMMCustomScale& scale) { m_scale.Assign(scale); }
    TMMScalePos ScalePos() const { return m_scalePos; }
    void SetScalePos(TMMScalePos pos);

    struct Label {
        QRect rect;
        QString text;
        TColor color;
    };
    // The labels a repaint draws, in painting order.
    QList<Label> Labels() const;

protected:
    void Paint(QPainter& canvas) override;

private:
    // Label area after the tick bands, and the bands themselves.
    QRect LabelArea(QList<std::pair<QRect, bool>>* bands) const;

    int m_scaleTicks = 8;
    int m_point1 = 50;
    int m_point2 = 85;
    std::array<TColor, 3> m_colors { clWhite, clWhite, clRed };
    int m_sensitivity = -35;
    bool m_logAmp = true;
    TMMLevelKind m_kind = lkHorizontal;
    TMMLevelDirection m_direction = dirNormal;
    TMMLevScale m_scale;
    TMMScalePos m_scalePos = spBoth;
};
