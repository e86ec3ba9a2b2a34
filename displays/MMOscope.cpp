#include "displays/MMOscope.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {

constexpr int AmpStrip = 32;
constexpr int TimeStrip = 40;

// The oscilloscopes of the process, in creation order (user-interface thread only).
std::vector<TMMOscope*>& List()
{
    static std::vector<TMMOscope*> list;
    return list;
}

} // namespace

const std::vector<TMMOscope*>& TMMOscope::Instances()
{
    return List();
}

TMMOscope::TMMOscope(QWidget* parent)
    : TMMDIBGraphicControl(parent)
    , m_infoBox(QStringLiteral("TMMOscope"))
{
    DIB().SetOwnerClassName(QStringLiteral("TMMOscope"));
    TMMGraphicControl::SetColor(clBlack);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    m_core.PcmOverflow = [this] {
        if (OnPcmOverflow)
            OnPcmOverflow(this);
    };
    m_core.GainOverflow = [this] {
        if (OnGainOverflow)
            OnGainOverflow(this);
    };
    List().push_back(this);
    resize(194, 90);
    Layout();
}

TMMOscope::~TMMOscope()
{
    auto& list = List();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

// ---- properties ----------------------------------------------------------------------------

void TMMOscope::SetColor(TColor color)
{
    TMMGraphicControl::SetColor(color);
    Repaint(m_core.SetBackColor(color));
}

void TMMOscope::SetDrawAmpScale(bool value)
{
    if (value == m_drawAmpScale)
        return;
    m_drawAmpScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMOscope::SetDrawTimeScale(bool value)
{
    if (value == m_drawTimeScale)
        return;
    m_drawTimeScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMOscope::SetScroll(bool value)
{
    if (!m_core.SetScroll(value))
        return;
    Layout();
    update();
}

void TMMOscope::SetAccelerate(bool value)
{
    if (m_core.SetAccelerate(value) && !value && m_core.Scroll())
        update();
}

void TMMOscope::SetFFTLength(int length)
{
    if (m_core.SetFFTLength(length) && m_core.Scroll())
        update();
}

void TMMOscope::SetPCMFormat(const TWaveFormatEx* format)
{
    m_core.SetPCMFormat(format);
    update();
}

void TMMOscope::SetOnDrawLine(TMMOscopeDrawLine handler)
{
    if (handler) {
        m_core.DrawLine = [this, handler](TMMDIBCanvas& dib, const QRect& rect, const std::int16_t* samples) {
            handler(this, dib, rect, samples);
        };
    } else {
        m_core.DrawLine = nullptr;
    }
    update();
}

void TMMOscope::SetSelection(int a, int b)
{
    Repaint(m_core.SetSelection(a, b));
}

void TMMOscope::SetLocator(int column)
{
    if (column == m_core.Locator())
        return;
    m_core.SetLocator(column);
    update();
}

// ---- size and layout -----------------------------------------------------------------------

void TMMOscope::UpdateMinimumSize()
{
    const int e = Bevel().BevelExtent();
    setMinimumSize(2 * e + (m_drawAmpScale ? 66 : 2), 2 * e + (m_drawTimeScale ? 42 : 2));
}

void TMMOscope::SetBounds(int left, int top, int width, int height)
{
    UpdateMinimumSize();
    setGeometry(left, top, std::max(width, minimumWidth()), std::max(height, minimumHeight()));
    Layout();
}

void TMMOscope::BoundsChanged()
{
    Layout();
}

void TMMOscope::LayoutChanged()
{
    UpdateMinimumSize();
    Layout();
    TMMDIBGraphicControl::LayoutChanged();
}

void TMMOscope::Layout()
{
    QRect r(0, 0, width(), height());
    if (m_drawAmpScale)
        r.adjust(AmpStrip, 0, -AmpStrip, 0);
    if (m_drawTimeScale)
        r.adjust(0, 0, 0, -TimeStrip);
    const int e = Bevel().BevelExtent();
    r.adjust(e, e, -e, -e);
    m_drawRect = r;
    EndInfoMode();
    m_ratio = devicePixelRatioF();
    DIB().SetDevicePixelRatio(m_ratio);
    m_core.SetPixelRatio(m_ratio);
    m_core.SetArea(zv::DevicePixels(r.width(), m_ratio), zv::DevicePixels(r.height(), m_ratio));
    DIB().SetSize(m_core.W(), m_core.H());
    m_infoBox.SetSize(m_core.W(), m_core.H());
}

// ---- data and frames -----------------------------------------------------------------------

void TMMOscope::ProcessData(const void* data)
{
    if (!m_core.Enabled() || !isVisible() || m_info)
        return;
    m_core.Take(data);
    // Outside scroll mode a frame shows the last block's samples alone: only the frame that is
    // copied gets drawn, while the overflow events still come per block. Scrolling takes a
    // column per block, so it is drawn per block.
    if (m_core.Scroll())
        PaintDirect([this] { DrawFrame(false); });
    else if (PaintDirectDeferred())
        m_core.FrameEvents();
}

void TMMOscope::ResetData()
{
    EndInfoMode();
    m_core.ClearData();
    if (!PaintDirect([this] { DrawFrame(true); }, TDirectCopy::Now))
        update();
}

void TMMOscope::DrawFrame(bool full)
{
    const bool scroll = m_core.Scroll();
    {
        TMMDIBDrawScope scope(DIB());
        if (scroll) {
            if (full || m_redrawRequest) {
                const bool asked = m_redrawRequest;
                m_redrawRequest = false;
                m_core.ScrollStart(DIB());
                if (!asked) {
                    for (TMMOscope* other : List())
                        if (other != this)
                            other->m_redrawRequest = true;
                }
            }
            if (!full)
                m_core.ScrollBlock(DIB());
        } else {
            m_core.DrawFrame(DIB());
        }
    }
    if (!scroll && OnPostPaint)
        OnPostPaint(this);
}

bool TMMOscope::RenderFrame(bool)
{
    if (m_core.Scroll()) {
        DrawFrame(true); // switched to scroll mode meanwhile: the chart starts again
        return true;
    }
    {
        TMMDIBDrawScope scope(DIB());
        m_core.PaintFrame(DIB());
    }
    if (OnPostPaint)
        OnPostPaint(this);
    return true;
}

void TMMOscope::CopyFrame(QPainter& device)
{
    TMMDIBDrawScope scope(DIB());
    DIB().CopyToDevice(device, m_drawRect, 0, 0);
}

void TMMOscope::Paint(QPainter& canvas)
{
    // Moved to a screen of another scale: lay the picture out in its device pixels.
    if (devicePixelRatioF() != m_ratio)
        Layout();
    if (m_drawAmpScale || m_drawTimeScale)
        DrawScales(canvas);
    Bevel().PaintBevel(canvas, rect(), true);
    if (m_info) {
        CopyFrame(canvas);
        return;
    }
    DrawFrame(true);
    CopyFrame(canvas);
}

void TMMOscope::DrawScales(QPainter& p)
{
    const QColor back = parentWidget() ? parentWidget()->palette().color(QPalette::Window)
                                       : palette().color(QPalette::Window);
    const int cw = width(), ch = height();
    const int W = LogicalW();
    const int divisions = m_core.GridDivisions();
    const QRect dr = m_drawRect;
    const QColor text = zv::ColorToQColor(m_core.Color(zv::OscopeCore::ScaleTextColor));
    const QColor line = zv::ColorToQColor(m_core.Color(zv::OscopeCore::ScaleLineColor));
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
    if (m_drawTimeScale)
        p.fillRect(0, ch - TimeStrip, cw, TimeStrip, back);

    if (m_drawAmpScale) {
        const int ampBottom = m_drawTimeScale ? ch - TimeStrip : ch;
        const int leftLine = AmpStrip - 4, rightLine = cw - AmpStrip + 3;
        p.setPen(line);
        p.drawLine(leftLine, dr.top(), leftLine, std::min(dr.bottom(), ampBottom - 1));
        p.drawLine(rightLine, dr.top(), rightLine, std::min(dr.bottom(), ampBottom - 1));
        const auto label = [&](int d, const QString& s) {
            const int y = dr.top() + m_core.GridRow(d);
            p.setPen(text);
            const int ty = std::clamp(y - metrics.height() / 2, 0, std::max(ampBottom - metrics.height(), 0));
            p.drawText(QRect(0, ty, leftLine - 4, metrics.height()), Qt::AlignRight | Qt::AlignVCenter, s);
            p.drawText(QRect(rightLine + 5, ty, cw - rightLine - 5, metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, s);
        };
        for (int d = 0; d <= divisions; ++d) {
            const int y = dr.top() + m_core.GridRow(d);
            p.setPen(line);
            p.drawLine(leftLine - 3, y, leftLine, y);
            p.drawLine(rightLine, y, rightLine + 3, y);
        }
        if (m_core.Kind() == okSpikes) {
            for (int d = 0; d <= divisions; ++d)
                label(d, QString::asprintf("%4.2f", double(d) / divisions));
        } else {
            const int middle = divisions / 2;
            for (int i = 0; i <= divisions / 2; ++i) {
                const QString value = QString::asprintf("%4.2f", 2.0 * i / divisions);
                if (i == 0) {
                    label(middle, value);
                } else {
                    label(middle + i, QLatin1Char('+') + value);
                    label(middle - i, QLatin1Char('-') + value);
                }
            }
        }
    }

    if (m_drawTimeScale) {
        const double ms = m_core.BlockMs();
        int d = 32;
        while (W / d < 10 && d > 1)
            d /= 2;
        const int y0 = ch - TimeStrip + 3;
        p.setPen(line);
        p.drawLine(dr.left(), y0, dr.left() + W - 1, y0);
        for (int k = 0; k <= d; ++k) {
            const int x = dr.left() + (W - 1) * k / d;
            const QString s = QString::asprintf("%4.1f", k * ms / d).trimmed();
            p.setPen(line);
            p.drawLine(x, y0, x, y0 + 3);
            p.setPen(text);
            p.save();
            p.translate(
                x + (metrics.ascent() - metrics.descent()) / 2, y0 + 5 + metrics.horizontalAdvance(s));
            p.rotate(-90);
            p.drawText(0, 0, s);
            p.restore();
        }
    }

    if (m_drawAmpScale && m_drawTimeScale) {
        p.setPen(text);
        const int y = ch - 2 * metrics.height() - 2;
        p.drawText(QRect(0, y + metrics.height(), AmpStrip - 4, metrics.height()), Qt::AlignRight,
            QStringLiteral("V"));
        p.drawText(
            QRect(cw - AmpStrip + 4, y, AmpStrip - 4, metrics.height()), Qt::AlignLeft, QStringLiteral("V"));
        p.drawText(QRect(cw - AmpStrip + 4, y + metrics.height(), AmpStrip - 4, metrics.height()),
            Qt::AlignLeft, QStringLiteral("mS"));
    }
    p.restore();
}

// ---- info mode -----------------------------------------------------------------------------

double TMMOscope::TimeAt(int x) const
{
    if (x < m_drawRect.left() || x > m_drawRect.right())
        return 0.0;
    return double(x + 1 - m_drawRect.left()) * m_core.BlockMs() / LogicalW();
}

double TMMOscope::ValueAt(int y) const
{
    if (y < m_drawRect.top() || y > m_drawRect.bottom())
        return 0.0;
    const double a = y - m_drawRect.top();
    const double H = LogicalH();
    if (m_core.Kind() == okSpikes)
        return (H - 1 - a) / (H - 1);
    double c = H / 2 - a;
    if (c < 0)
        c -= 1;
    return 2 * c / H;
}

QString TMMOscope::InfoText(QPoint p) const
{
    if (!m_drawRect.contains(p))
        return {};
    return QString::asprintf("%4.1f ms", TimeAt(p.x())) + QString::asprintf(" %4.2f V", ValueAt(p.y()));
}

void TMMOscope::DrawInfoBox(QPoint p)
{
    const int e = Bevel().BevelExtent();
    const QPoint at(p.x() - e - (m_drawAmpScale ? AmpStrip : 0), p.y() - e);
    m_infoBox.Show(DIB(), m_ratio == 1.0 ? at : (QPointF(at) * m_ratio).toPoint(), InfoText(p));
}

void TMMOscope::EndInfoMode()
{
    if (!m_info)
        return;
    if (m_core.Enabled()) {
        DrawInfoBox(QPoint(-1, -1));
        PaintDirect(nullptr);
    }
    m_infoBox.Forget();
    m_info = false;
    m_showHint = m_savedShowHint;
}

// ---- mouse ---------------------------------------------------------------------------------

void TMMOscope::ChangeSelection(int a, int b)
{
    if (m_core.SetSelection(a, b) && !m_core.Scroll())
        PaintDirect([this] { DrawFrame(true); });
    if (OnSelecting)
        OnSelecting(this, a, b);
}

void TMMOscope::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && m_showInfo && m_core.Enabled() && !m_info) {
        m_info = true;
        QToolTip::hideText();
        m_savedShowHint = m_showHint;
        m_showHint = false;
        RenderStaleFrame(); // the box goes onto the last frame
        DrawInfoBox(p);
        PaintDirect(nullptr);
    } else if (event->button() == Qt::RightButton && m_useSelection && !m_locked && m_drag == Drag::None
        && GetInnerRect().contains(p)) {
        const QPoint c(ColumnX(p.x()), p.y());
        const int left = m_drawRect.left();
        const int column = std::clamp(c.x() - left, 0, m_core.W() - 1);
        const int s = m_core.SelStart(), e = m_core.SelEnd();
        const int startEdge = left + s, endEdge = left + e;
        if (s >= 0 && c.x() >= startEdge - 3 && c.x() <= startEdge + 2) {
            m_drag = Drag::Start;
            m_dragX = e; // the fixed edge
        } else if (e >= 0 && c.x() >= endEdge - 2 && c.x() <= endEdge + 3) {
            m_drag = Drag::End;
            m_dragX = s;
        } else if (s >= 0 && column > s && column < e) {
            m_drag = Drag::Move;
            m_dragX = c.x();
            setCursor(Qt::SizeAllCursor);
        } else {
            m_drag = Drag::End;
            m_dragX = column;
            setCursor(Qt::SizeHorCursor);
            m_core.SetSelection(-1, -1);
            ChangeSelection(column, column + 1);
        }
    }
    TMMDIBGraphicControl::mousePressEvent(event);
}

void TMMOscope::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (m_info) {
        DrawInfoBox(p);
        PaintDirect(nullptr);
    }
    const int left = m_drawRect.left();
    const int W = m_core.W();
    const QPoint c(ColumnX(p.x()), p.y());
    if (m_drag != Drag::None) {
        const int x = std::clamp(c.x(), left, left + W - 1);
        if (m_drag == Drag::Move) {
            const int s = m_core.SelStart(), e = m_core.SelEnd();
            const int dx = std::clamp(x - m_dragX, -s, W - 1 - e);
            m_dragX = x;
            if (dx != 0)
                ChangeSelection(s + dx, e + dx);
        } else {
            ChangeSelection(m_dragX, std::clamp(x - left, 0, W));
        }
    } else if (m_useSelection && !m_locked) {
        const int s = m_core.SelStart(), e = m_core.SelEnd();
        const int column = c.x() - left;
        const bool nearEdge = s >= 0
            && ((c.x() >= left + s - 3 && c.x() <= left + s + 2)
                || (c.x() >= left + e - 2 && c.x() <= left + e + 3));
        if (nearEdge)
            setCursor(Qt::SizeHorCursor);
        else if (s >= 0 && column > s && column < e)
            setCursor(Qt::SizeAllCursor);
        else if (cursor().shape() == Qt::SizeHorCursor || cursor().shape() == Qt::SizeAllCursor)
            setCursor(Qt::ArrowCursor);
    } else if (cursor().shape() != Qt::CrossCursor && cursor().shape() != Qt::WaitCursor) {
        setCursor(Qt::ArrowCursor);
    }
    TMMDIBGraphicControl::mouseMoveEvent(event);
}

void TMMOscope::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        EndInfoMode();
    if (event->button() == Qt::RightButton && m_drag != Drag::None) {
        m_drag = Drag::None;
        if (m_core.SelEnd() - m_core.SelStart() == 1)
            ChangeSelection(-1, -1);
        if (OnSelectEnd)
            OnSelectEnd(this, m_core.SelStart(), m_core.SelEnd());
    }
    TMMDIBGraphicControl::mouseReleaseEvent(event);
}

bool TMMOscope::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && !m_showHint) {
        event->ignore();
        return true;
    }
    return TMMDIBGraphicControl::event(event);
}
