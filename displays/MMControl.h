#pragma once

#include "displays/MMDIBCv.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

// Control bases of the displays: a widget with a bevel frame, painted opaque by the control itself.
class TMMGraphicControl : public QWidget {
    Q_OBJECT
public:
    explicit TMMGraphicControl(QWidget* parent = nullptr);
    ~TMMGraphicControl() override;

    TMMBevel& Bevel() { return m_bevel; }
    const TMMBevel& Bevel() const { return m_bevel; }
    // Copies the settings of the given bevel into the control's own.
    void SetBevel(const TMMBevel& bevel) { m_bevel.Assign(bevel); }

    TColor Color() const { return m_color; }
    void SetColor(TColor color);

    // (0, 0, width, height) shrunk by the bevel's extent on every side.
    QRect GetInnerRect() const;

    // Shortest time between two copies of data frames to one control's window, in milliseconds:
    // one display refresh. Data may come hundreds of times a second; the screen shows about sixty
    // pictures, and every copy is a trip to the window system.
    static constexpr int kDirectCopyInterval = 16;

    // Draws a frame into the control's off-screen picture.
    using TDrawRoutine = std::function<void()>;
    // When a data frame reaches the window.
    enum class TDirectCopy {
        Coalesced, // after the current event, at most once per display refresh: the latest frame
        Now, // at once (clearing, settings): nothing stale stays on the screen
    };
    // A data update outside the window's paint cycle: when the control can be seen, draw renders
    // the frame off screen now (every frame, so the picture's state stays exact) and CopyFrame
    // brings it to the window. A coalesced copy runs after the current event when this control's
    // last copy lies in an earlier display refresh, else at the start of the next one; either way
    // the last frame drawn is the one copied. Returns whether it drew.
    bool PaintDirect(const TDrawRoutine& draw, TDirectCopy copy = TDirectCopy::Coalesced);
    // The same update for displays whose frame follows from their state alone: the frame is
    // drawn (by RenderFrame) only when it is copied, so of many updates within one refresh only
    // the last one is drawn. The window shows the same pixels as with PaintDirect; the data side
    // still advances with every update. Returns whether the control can be seen.
    bool PaintDirectDeferred(TDirectCopy copy = TDirectCopy::Coalesced);
    // Copies a frame that waits for its copy to the window now; nothing when none waits.
    void FlushDirect();
    bool DirectCopyPending() const { return m_copyPending; }

    // The clock of the display refreshes in microseconds; tests put their own in (null: the
    // steady clock).
    using Clock = std::int64_t (*)();
    static void SetClock(Clock clock);
    static std::int64_t Now();

protected:
    // Runs after a real change of Color; the base repaints.
    virtual void ColorChanged() { update(); }
    // Runs after a change of the bevel and, for controls whose geometry follows the inner
    // rectangle, after a change of bounds. The base repaints.
    virtual void LayoutChanged();
    // Bounds changed (after Qt has applied them).
    virtual void BoundsChanged() { }
    // The window repaint: the bevel, then the inner rectangle filled with Color. Subclasses that
    // draw their interior call this first or paint the bevel themselves.
    virtual void Paint(QPainter& canvas);

    // Copies the frame last drawn off screen to the window: the second half of a data update.
    // Window repaints draw the frame and then copy it the same way, so both give the same pixels.
    virtual void CopyFrame(QPainter& device) { Q_UNUSED(device) }
    // Draws the current frame off screen for PaintDirectDeferred, just before its copy. shown:
    // the window shows the last frame drawn, whole; a control may then answer false when the new
    // frame would be the same picture, which saves the copy. Controls that use it draw their frame
    // in every window repaint too.
    virtual bool RenderFrame(bool shown)
    {
        Q_UNUSED(shown)
        return true;
    }
    // Draws a deferred frame that waits for its copy now, so the off-screen picture holds the
    // latest frame before something is drawn on top of it; the copy still waits.
    void RenderStaleFrame();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TMMDirectCopies;
    bool CanPaintDirect() const;
    void RequestCopy(TDirectCopy copy);
    // The first half of a copy: takes the waiting copy off the list and draws a stale frame.
    // Returns whether the window needs the copy.
    bool PrepareCopy();

    TMMBevel m_bevel;
    TColor m_color = clBtnFace;
    // User-interface thread only.
    bool m_copying = false; // set only while FlushDirect repaints
    bool m_copyPending = false; // a data frame drawn off screen waits for its copy
    bool m_frameStale = false; // a deferred frame waits to be drawn before that copy
    bool m_lastFrameShown = false; // the window shows the last frame drawn, whole
    std::int64_t m_copyRefresh = -1; // display refresh (Now / interval) of the last copy
};

// The windowed base: the same frame and painting, and it takes the keyboard focus.
class TMMCustomControl : public TMMGraphicControl {
    Q_OBJECT
public:
    explicit TMMCustomControl(QWidget* parent = nullptr);
};

// Base of the displays that redraw many times a second: each frame is drawn into the off-screen
// canvas DIB and reaches the window in one copy.
class TMMDIBGraphicControl : public TMMGraphicControl {
    Q_OBJECT
public:
    explicit TMMDIBGraphicControl(QWidget* parent = nullptr);

    TMMDIBCanvas& DIB() { return m_dib; }
    const TMMDIBCanvas& DIB() const { return m_dib; }

    const QImage& BackGroundDIB() const { return m_backGroundDIB; }
    void SetBackGroundDIB(const QImage& bitmap);
    // True only while BackGroundDIB is not empty.
    bool UseBackGroundDIB() const { return m_useBackGroundDIB; }
    void SetUseBackGroundDIB(bool use);
    bool PaletteRealize() const { return m_dib.PaletteRealize(); }
    void SetPaletteRealize(bool value) { m_dib.SetPaletteRealize(value); }
    bool PaletteMapped() const { return m_dib.PaletteMapped(); }
    void SetPaletteMapped(bool value) { m_dib.SetPaletteMapped(value); }
    // Kept for the application; the control only stores it.
    int Tag2() const { return m_tag2; }
    void SetTag2(int value) { m_tag2 = value; }

    // Inside a drawing bracket: the prepared background when there is one, else Color.
    void DrawBackground();

protected:
    // Sizes DIB to the control; the level bar sizes it to its inner rectangle instead.
    void BoundsChanged() override;

private:
    TMMDIBCanvas m_dib;
    QImage m_backGroundDIB;
    bool m_useBackGroundDIB = false;
    int m_tag2 = 0;
};
