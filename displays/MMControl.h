#pragma once

#include "displays/MMDIBCv.h"

#include <QImage>
#include <QWidget>
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

    // A routine that paints the control's interior on the given device.
    using TPaintRoutine = std::function<void(QPainter& device)>;
    // Paints the interior now with routine, outside the window's paint cycle, when the control
    // can be seen; the same routine the window repaint uses, so both give the same pixels.
    // Returns whether it painted.
    bool PaintDirect(const TPaintRoutine& routine);

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

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TMMBevel m_bevel;
    TColor m_color = clBtnFace;
    const TPaintRoutine* m_direct = nullptr; // set only while PaintDirect repaints
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
