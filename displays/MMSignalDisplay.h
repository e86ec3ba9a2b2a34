#pragma once

// What the oscilloscope and the spectrum analyser share on the screen: the picture's place beside
// the amplitude strips and the bottom scale strip, the drawing of those strips, the info mode
// under the left mouse button and the frame reset. Each display fills in its own core, marks and
// units. Everything here runs on the user-interface thread.

#include "audio/MMConect.h"
#include "displays/MMControl.h"
#include "displays/MMInfoBox.h"

#include <QList>
#include <QPoint>
#include <QString>

class QMouseEvent;

class TMMSignalDisplay : public TMMDIBGraphicControl, public IMMDisplay {
    Q_OBJECT
public:
    bool ShowInfo() const { return m_showInfo; }
    void SetShowInfo(bool value) { m_showInfo = value; }
    // Hints (tool tips) show only while true; info mode switches them off while it lasts.
    bool ShowHint() const { return m_showHint; }
    void SetShowHint(bool value) { m_showHint = value; }
    bool DrawAmpScale() const { return m_drawAmpScale; }
    void SetDrawAmpScale(bool value);

    void ResetData() override;
    // Data is drawn only while the control is shown, enabled and not in info mode.
    bool WantsData() const override { return isVisible() && DataEnabled() && !m_info; }

    // The control's bounds, raised to the smallest size its scales leave room for.
    void SetBounds(int left, int top, int width, int height);
    QRect DrawRect() const { return m_drawRect; }
    bool InfoMode() const { return m_info; }
    // The text info mode shows for a point of the control; empty outside the picture.
    virtual QString InfoText(QPoint p) const = 0;

protected:
    static constexpr int AmpStrip = 32; // width of each amplitude scale
    static constexpr int BottomStrip = 40; // height of the time or frequency scale

    // className names the canvases; minimumPicture is the least picture width and height kept
    // beside the strips.
    TMMSignalDisplay(QWidget* parent, const QString& className, int minimumPicture);

    // One tick of a scale: its row (amplitude) or column (bottom) in control coordinates, and its
    // labels; an empty label leaves the tick bare.
    struct ScaleMark {
        int at;
        QString label;
        QString rightLabel; // the amplitude scale on the right
    };

    bool DrawBottomScale() const { return m_drawBottomScale; }
    void SetDrawBottomScale(bool value);
    void Repaint(bool changed)
    {
        if (changed) {
            {
                {
                    {
                        {
                            update();
                        }
                    }
                }
            }
        }
    }
    void Layout();
    void EndInfoMode();
    int LogicalW() const
    {
        return m_ratio == 1.0 ? PictureSize().width() : qRound(PictureSize().width() / m_ratio);
    }
    int LogicalH() const
    {
        return m_ratio == 1.0 ? PictureSize().height() : qRound(PictureSize().height() / m_ratio);
    }

    void BoundsChanged() override;
    void LayoutChanged() override;
    void Paint(QPainter& canvas) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

    QRect m_drawRect;
    // The picture is drawn in the screen's device pixels; scales and mouse positions are logical.
    qreal m_ratio = 1.0;
    bool m_info = false;
    TMMInfoBox m_infoBox; // the info mode's text box on the picture

private:
    // ---- what each display fills in ----
    virtual bool DataEnabled() const = 0;
    // The picture in device pixels, as the core laid it out.
    virtual QSize PictureSize() const = 0;
    virtual void SetPicture(qreal ratio, int width, int height) = 0;
    // A frame (full: from scratch) into DIB; CopyFrame brings it to the window.
    virtual void DrawFrame(bool full) = 0;
    virtual void ClearData() = 0;
    virtual void InfoModeChanged(bool on) { Q_UNUSED(on) }
    // The mouse beyond info mode (the oscilloscope's range selection).
    virtual void MousePressed(QMouseEvent* event) { Q_UNUSED(event) }
    virtual void MouseMoved(QMouseEvent* event) { Q_UNUSED(event) }
    virtual void MouseReleased(QMouseEvent* event) { Q_UNUSED(event) }
    // The strips: colours, ticks with their labels, and the units in the corner they share.
    virtual TColor ScaleTextColor() const = 0;
    virtual TColor ScaleLineColor() const = 0;
    virtual QList<ScaleMark> AmpMarks() const = 0;
    virtual QList<ScaleMark> BottomMarks(int divisions) const = 0;
    virtual QString AmpUnit() const = 0;
    virtual QString BottomUnit() const = 0;

    void UpdateMinimumSize();
    void DrawScales(QPainter& canvas);
    void DrawInfoBox(QPoint p);

    int m_minimumPicture;
    bool m_drawAmpScale = false;
    bool m_drawBottomScale = false;
    bool m_showInfo = true;
    bool m_showHint = false;
    bool m_savedShowHint = false;
};
