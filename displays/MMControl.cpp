#include "displays/MMControl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

TMMGraphicControl::TMMGraphicControl(QWidget* parent)
    : QWidget(parent)
{
    // The control paints its whole rectangle; nothing needs erasing behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_bevel.OnChange = [this](TMMObject*) { LayoutChanged(); };
}

TMMGraphicControl::~TMMGraphicControl()
{
    m_bevel.OnChange = nullptr;
}

void TMMGraphicControl::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    ColorChanged();
}

QRect TMMGraphicControl::GetInnerRect() const
{
    const int e = m_bevel.BevelExtent();
    return QRect(QPoint(e, e), QPoint(width() - 1 - e, height() - 1 - e));
}

void TMMGraphicControl::LayoutChanged()
{
    update();
}

void TMMGraphicControl::Paint(QPainter& canvas)
{
    const QRect inner = m_bevel.PaintBevel(canvas, rect(), true);
    if (inner.width() > 0 && inner.height() > 0)
        canvas.fillRect(inner, zv::ColorToQColor(m_color));
}

bool TMMGraphicControl::PaintDirect(const TPaintRoutine& routine)
{
    if (!isVisible() || !window()->windowHandle() || m_direct)
        return false;
    const QRect inner = GetInnerRect();
    if (inner.width() <= 0 || inner.height() <= 0 || visibleRegion().intersected(inner).isEmpty())
        return false;
    m_direct = &routine;
    repaint(inner);
    m_direct = nullptr;
    return true;
}

void TMMGraphicControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (m_direct && GetInnerRect().contains(event->rect())) {
        (*m_direct)(painter);
        return;
    }
    Paint(painter);
}

void TMMGraphicControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    BoundsChanged();
}

TMMCustomControl::TMMCustomControl(QWidget* parent)
    : TMMGraphicControl(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget* parent)
    : TMMGraphicControl(parent)
    , m_dib(QStringLiteral("TMMDIBGraphicControl"))
{
}

void TMMDIBGraphicControl::BoundsChanged()
{
    m_dib.SetSize(width(), height());
}

void TMMDIBGraphicControl::SetUseBackGroundDIB(bool use)
{
    use = use && !m_backGroundDIB.isNull();
    if (use == m_useBackGroundDIB)
        return;
    m_useBackGroundDIB = use;
    m_dib.SetPaletteRealize(use);
    m_dib.SetBackGroundBitmap(use ? m_backGroundDIB : QImage());
    update();
}

void TMMDIBGraphicControl::SetBackGroundDIB(const QImage& bitmap)
{
    m_backGroundDIB = bitmap;
    if (bitmap.isNull() && m_useBackGroundDIB) {
        SetUseBackGroundDIB(false);
        return;
    }
    m_dib.SetBackGroundBitmap(m_useBackGroundDIB ? bitmap : QImage());
    update();
}

void TMMDIBGraphicControl::DrawBackground()
{
    if (m_dib.HasBackground()) {
        m_dib.CopyBackground(0, 0, m_dib.Width(), m_dib.Height(), 0, 0);
    } else {
        m_dib.SetDrawColor(Color());
        m_dib.Clear();
    }
}
