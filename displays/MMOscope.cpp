#include "displays/MMOscope.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

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
    : TMMSignalDisplay(parent, QStringLiteral("TMMOscope"), 2)
{
    setMouseTracking(true);
    m_core.PcmOverflow = [this] {
        if (OnPcmOverflow) {
            OnPcmOverflow(this);
        }
    };
    m_core.GainOverflow = [this] {
        if (OnGainOverflow) {
            OnGainOverflow(this);
        }
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

void TMMOscope::SetScroll(bool value)
{
    if (!m_core.SetScroll(value)) {
        return;
    }
    Layout();
    update();
}

void TMMOscope::SetAccelerate(bool value)
{
    if (m_core.SetAccelerate(value) && !value && m_core.Scroll()) {
        update();
    }
}

void TMMOscope::SetFFTLength(int length)
{
    if (m_core.SetFFTLength(length) && m_core.Scroll()) {
        update();
    }
}

void TMMOscope::SetPCMFormat(const TWaveFormatEx* format)
{
    m_core.SetPCMFormat(format);
    update();
}

void TMMOscope::SetOnDrawLine(TMMOscopeDrawLine handler)
{
    if (handler) {
        m_core.DrawLine = [this, handler = std::move(handler)](TMMDIBCanvas& dib, const QRect& rect,
                              const std::int16_t* samples) { handler(this, dib, rect, samples); };
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
    if (column == m_core.Locator()) {
        return;
    }
    m_core.SetLocator(column);
    update();
}

// ---- size and layout -----------------------------------------------------------------------

void TMMOscope::SetPicture(qreal ratio, int width, int height)
{
    m_core.SetPixelRatio(ratio);
    m_core.SetArea(width, height);
}

// ---- data and frames -----------------------------------------------------------------------

void TMMOscope::ProcessData(const void* data)
{
    if (!WantsData()) {
        return;
    }
    m_core.Take(data);
    // Outside scroll mode a frame shows the last block's samples alone: only the frame that is
    // copied gets drawn, while the overflow events still come per block. Scrolling takes a
    // column per block, so it is drawn per block.
    if (m_core.Scroll()) {
        PaintDirect([this] { DrawFrame(false); });
    } else if (PaintDirectDeferred()) {
        m_core.FrameEvents();
    }
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
                    for (TMMOscope* other : List()) {
                        if (other != this) {
                            other->m_redrawRequest = true;
                        }
                    }
                }
            }
            if (!full) {
                m_core.ScrollBlock(DIB());
            }
        } else {
            m_core.DrawFrame(DIB());
        }
    }
    if (!scroll && OnPostPaint) {
        OnPostPaint(this);
    }
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
    if (OnPostPaint) {
        OnPostPaint(this);
    }
    return true;
}

void TMMOscope::CopyFrame(QPainter& device)
{
    TMMDIBDrawScope scope(DIB());
    DIB().CopyToDevice(device, m_drawRect, 0, 0);
}

QList<TMMSignalDisplay::ScaleMark> TMMOscope::AmpMarks() const
{
    const int divisions = m_core.GridDivisions();
    QList<ScaleMark> marks;
    for (int d = 0; d <= divisions; ++d) {
        marks.append({ m_drawRect.top() + m_core.GridRow(d), {}, {} });
    }
    const auto label = [&marks](int d, const QString& s) { marks[d].label = marks[d].rightLabel = s; };
    if (m_core.Kind() == okSpikes) {
        for (int d = 0; d <= divisions; ++d) {
            label(d, QString::asprintf("%4.2f", double(d) / divisions));
        }
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
    return marks;
}

QList<TMMSignalDisplay::ScaleMark> TMMOscope::BottomMarks(int divisions) const
{
    const double ms = m_core.BlockMs();
    const int W = LogicalW();
    QList<ScaleMark> marks;
    for (int k = 0; k <= divisions; ++k) {
        const QString s = QString::asprintf("%4.1f", k * ms / divisions).trimmed();
        marks.append({ m_drawRect.left() + (W - 1) * k / divisions, s, {} });
    }
    return marks;
}

// ---- info mode -----------------------------------------------------------------------------

double TMMOscope::TimeAt(int x) const
{
    if (x < m_drawRect.left() || x > m_drawRect.right()) {
        return 0.0;
    }
    return double(x + 1 - m_drawRect.left()) * m_core.BlockMs() / LogicalW();
}

double TMMOscope::ValueAt(int y) const
{
    if (y < m_drawRect.top() || y > m_drawRect.bottom()) {
        return 0.0;
    }
    const double a = y - m_drawRect.top();
    const double H = LogicalH();
    if (m_core.Kind() == okSpikes) {
        return (H - 1 - a) / (H - 1);
    }
    double c = H / 2 - a;
    if (c < 0) {
        c -= 1;
    }
    return 2 * c / H;
}

QString TMMOscope::InfoText(QPoint p) const
{
    if (!m_drawRect.contains(p)) {
        return {};
    }
    return QString::asprintf("%4.1f ms", TimeAt(p.x())) + QString::asprintf(" %4.2f V", ValueAt(p.y()));
}

// ---- mouse ---------------------------------------------------------------------------------

void TMMOscope::ChangeSelection(int a, int b)
{
    if (m_core.SetSelection(a, b) && !m_core.Scroll()) {
        PaintDirect([this] { DrawFrame(true); });
    }
    if (OnSelecting) {
        OnSelecting(this, a, b);
    }
}

void TMMOscope::MousePressed(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::RightButton && m_useSelection && !m_locked && m_drag == Drag::None
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
}

void TMMOscope::MouseMoved(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    const int left = m_drawRect.left();
    const int W = m_core.W();
    const QPoint c(ColumnX(p.x()), p.y());
    if (m_drag != Drag::None) {
        const int x = std::clamp(c.x(), left, left + W - 1);
        if (m_drag == Drag::Move) {
            const int s = m_core.SelStart(), e = m_core.SelEnd();
            const int dx = std::clamp(x - m_dragX, -s, W - 1 - e);
            m_dragX = x;
            if (dx != 0) {
                ChangeSelection(s + dx, e + dx);
            }
        } else {
            ChangeSelection(m_dragX, std::clamp(x - left, 0, W));
        }
    } else if (m_useSelection && !m_locked) {
        const int s = m_core.SelStart(), e = m_core.SelEnd();
        const int column = c.x() - left;
        const bool nearEdge = s >= 0
            && ((c.x() >= left + s - 3 && c.x() <= left + s + 2)
                || (c.x() >= left + e - 2 && c.x() <= left + e + 3));
        if (nearEdge) {
            setCursor(Qt::SizeHorCursor);
        } else if (s >= 0 && column > s && column < e) {
            setCursor(Qt::SizeAllCursor);
        } else if (cursor().shape() == Qt::SizeHorCursor || cursor().shape() == Qt::SizeAllCursor) {
            setCursor(Qt::ArrowCursor);
        }
    } else if (cursor().shape() != Qt::CrossCursor && cursor().shape() != Qt::WaitCursor) {
        setCursor(Qt::ArrowCursor);
    }
}

void TMMOscope::MouseReleased(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton && m_drag != Drag::None) {
        m_drag = Drag::None;
        if (m_core.SelEnd() - m_core.SelStart() == 1) {
            ChangeSelection(-1, -1);
        }
        if (OnSelectEnd) {
            OnSelectEnd(this, m_core.SelStart(), m_core.SelEnd());
        }
    }
}
