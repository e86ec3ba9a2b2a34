#include "displays/MMSignalDisplay.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

TMMSignalDisplay::TMMSignalDisplay(QWidget* parent, const QString& className, int minimumPicture)
    : TMMDIBGraphicControl(parent)
    , m_infoBox(className)
    , m_minimumPicture(minimumPicture)
{
    DIB().SetOwnerClassName(className);
    TMMGraphicControl::SetColor(clBlack);
    setCursor(Qt::CrossCursor);
}

void TMMSignalDisplay::SetDrawAmpScale(bool value)
{
    if (value == m_drawAmpScale) {
        return;
    }
    m_drawAmpScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMSignalDisplay::SetDrawBottomScale(bool value)
{
    if (value == m_drawBottomScale) {
        return;
    }
    m_drawBottomScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMSignalDisplay::ResetData()
{
    EndInfoMode();
    ClearData();
    if (!PaintDirect([this] { DrawFrame(true); }, TDirectCopy::Now)) {
        update();
    }
}

// ---- size and layout -----------------------------------------------------------------------

void TMMSignalDisplay::UpdateMinimumSize()
{
    const int e = Bevel().BevelExtent();
    setMinimumSize(2 * e + (m_drawAmpScale ? 2 * AmpStrip : 0) + m_minimumPicture,
        2 * e + (m_drawBottomScale ? BottomStrip : 0) + m_minimumPicture);
}

void TMMSignalDisplay::SetBounds(int left, int top, int width, int height)
{
    UpdateMinimumSize();
    setGeometry(left, top, std::max(width, minimumWidth()), std::max(height, minimumHeight()));
    Layout();
}

void TMMSignalDisplay::BoundsChanged()
{
    Layout();
}

void TMMSignalDisplay::LayoutChanged()
{
    UpdateMinimumSize();
    Layout();
    TMMDIBGraphicControl::LayoutChanged();
}

void TMMSignalDisplay::Layout()
{
    QRect r(0, 0, width(), height());
    if (m_drawAmpScale) {
        r.adjust(AmpStrip, 0, -AmpStrip, 0);
    }
    if (m_drawBottomScale) {
        r.adjust(0, 0, 0, -BottomStrip);
    }
    const int e = Bevel().BevelExtent();
    r.adjust(e, e, -e, -e);
    m_drawRect = r;
    EndInfoMode();
    m_ratio = devicePixelRatioF();
    DIB().SetDevicePixelRatio(m_ratio);
    SetPicture(m_ratio, zv::DevicePixels(r.width(), m_ratio), zv::DevicePixels(r.height(), m_ratio));
    const QSize picture = PictureSize();
    DIB().SetSize(picture.width(), picture.height());
    m_infoBox.SetSize(picture.width(), picture.height());
}

// ---- drawing -------------------------------------------------------------------------------

void TMMSignalDisplay::Paint(QPainter& canvas)
{
    // Moved to a screen of another scale: lay the picture out in its device pixels.
    if (devicePixelRatioF() != m_ratio) {
        Layout();
    }
    if (m_drawAmpScale || m_drawBottomScale) {
        DrawScales(canvas);
    }
    Bevel().PaintBevel(canvas, rect(), true);
    if (m_info) {
        // The frozen picture stays; only the box is put back on top of it.
        CopyFrame(canvas);
        return;
    }
    DrawFrame(true);
    CopyFrame(canvas);
}

void TMMSignalDisplay::DrawScales(QPainter& p)
{
    const QColor back = parentWidget() ? parentWidget()->palette().color(QPalette::Window)
                                       : palette().color(QPalette::Window);
    const int cw = width(), ch = height();
    const int W = LogicalW();
    const QRect dr = m_drawRect;
    const QColor text = zv::ColorToQColor(ScaleTextColor());
    const QColor line = zv::ColorToQColor(ScaleLineColor());
    QFont font = zv::MakePixelFont(QStringLiteral("ARIAL"), 10);
    // The substitute faces run wider than the original; the narrow cut keeps signed labels whole.
    font.setStretch(QFont::Condensed);
    const QFontMetrics metrics(font);
    p.save();
    p.setFont(font);
    if (m_drawAmpScale) {
        p.fillRect(0, 0, AmpStrip, ch, back);
        p.fillRect(cw - AmpStrip, 0, AmpStrip, ch, back);
    }
    if (m_drawBottomScale) {
        p.fillRect(0, ch - BottomStrip, cw, BottomStrip, back);
    }

    if (m_drawAmpScale) {
        const int ampBottom = m_drawBottomScale ? ch - BottomStrip : ch;
        const int leftLine = AmpStrip - 4, rightLine = cw - AmpStrip + 3;
        p.setPen(line);
        p.drawLine(leftLine, dr.top(), leftLine, std::min(dr.bottom(), ampBottom - 1));
        p.drawLine(rightLine, dr.top(), rightLine, std::min(dr.bottom(), ampBottom - 1));
        const QList<ScaleMark> marks = AmpMarks();
        for (const ScaleMark& mark : marks) {
            p.drawLine(leftLine - 3, mark.at, leftLine, mark.at);
            p.drawLine(rightLine, mark.at, rightLine + 3, mark.at);
        }
        p.setPen(text);
        for (const ScaleMark& mark : marks) {
            if (mark.label.isEmpty()) {
                continue;
            }
            const int ty
                = std::clamp(mark.at - metrics.height() / 2, 0, std::max(ampBottom - metrics.height(), 0));
            p.drawText(
                QRect(0, ty, leftLine - 4, metrics.height()), Qt::AlignRight | Qt::AlignVCenter, mark.label);
            p.drawText(QRect(rightLine + 5, ty, cw - rightLine - 5, metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, mark.rightLabel);
        }
    }

    if (m_drawBottomScale) {
        int d = 32;
        while (W / d < 10 && d > 1) {
            d /= 2;
        }
        const int y0 = ch - BottomStrip + 3;
        p.setPen(line);
        p.drawLine(dr.left(), y0, dr.left() + W - 1, y0);
        for (const ScaleMark& mark : BottomMarks(d)) {
            p.setPen(line);
            p.drawLine(mark.at, y0, mark.at, y0 + 3);
            p.setPen(text);
            p.save();
            // Turned by 90 degrees, reading upwards, ending just below the tick.
            const int lift = (metrics.ascent() - metrics.descent()) / 2; // whole pixels, as drawn so far
            p.translate(mark.at + lift, y0 + 5 + metrics.horizontalAdvance(mark.label));
            p.rotate(-90);
            p.drawText(0, 0, mark.label);
            p.restore();
        }
    }

    if (m_drawAmpScale && m_drawBottomScale) {
        p.setPen(text);
        const QString unit = AmpUnit();
        const int y = ch - 2 * metrics.height() - 2;
        p.drawText(QRect(0, y + metrics.height(), AmpStrip - 4, metrics.height()), Qt::AlignRight, unit);
        p.drawText(QRect(cw - AmpStrip + 4, y, AmpStrip - 4, metrics.height()), Qt::AlignLeft, unit);
        p.drawText(QRect(cw - AmpStrip + 4, y + metrics.height(), AmpStrip - 4, metrics.height()),
            Qt::AlignLeft, BottomUnit());
    }
    p.restore();
}

// ---- info mode -----------------------------------------------------------------------------

void TMMSignalDisplay::DrawInfoBox(QPoint p)
{
    const int e = Bevel().BevelExtent();
    const QPoint at(p.x() - e - (m_drawAmpScale ? AmpStrip : 0), p.y() - e);
    m_infoBox.Show(DIB(), m_ratio == 1.0 ? at : (QPointF(at) * m_ratio).toPoint(), InfoText(p));
}

void TMMSignalDisplay::EndInfoMode()
{
    if (!m_info) {
        return;
    }
    if (DataEnabled()) {
        DrawInfoBox(QPoint(-1, -1));
        PaintDirect(nullptr);
    }
    m_infoBox.Forget();
    m_info = false;
    InfoModeChanged(false);
    m_showHint = m_savedShowHint;
}

void TMMSignalDisplay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_showInfo && DataEnabled() && !m_info) {
        m_info = true;
        InfoModeChanged(true);
        QToolTip::hideText();
        m_savedShowHint = m_showHint;
        m_showHint = false;
        RenderStaleFrame(); // the box goes onto the last frame
        DrawInfoBox(event->position().toPoint());
        PaintDirect(nullptr);
    } else {
        MousePressed(event);
    }
    TMMDIBGraphicControl::mousePressEvent(event);
}

void TMMSignalDisplay::mouseMoveEvent(QMouseEvent* event)
{
    if (m_info) {
        DrawInfoBox(event->position().toPoint());
        PaintDirect(nullptr);
    }
    MouseMoved(event);
    TMMDIBGraphicControl::mouseMoveEvent(event);
}

void TMMSignalDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        EndInfoMode();
    }
    MouseReleased(event);
    TMMDIBGraphicControl::mouseReleaseEvent(event);
}

bool TMMSignalDisplay::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && !m_showHint) {
        event->ignore();
        return true;
    }
    return TMMDIBGraphicControl::event(event);
}
