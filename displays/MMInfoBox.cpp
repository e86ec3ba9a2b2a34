#include "displays/MMInfoBox.h"

#include <QFontMetrics>

TMMInfoBox::TMMInfoBox(const QString& ownerClassName)
    : m_save(ownerClassName)
{
}

void TMMInfoBox::SetSize(int width, int height)
{
    m_save.SetSize(width, height);
    m_rect = QRect();
}

void TMMInfoBox::SetBitsPerPixel(int bits)
{
    m_save.SetBitsPerPixel(bits);
}

void TMMInfoBox::Restore(TMMDIBCanvas& picture)
{
    if (m_rect.isEmpty()) {
        return;
    }
    TMMDIBDrawScope scope(picture);
    picture.CopyBits(m_save, m_rect.x(), m_rect.y(), m_rect.width(), m_rect.height(), m_rect.x(), m_rect.y());
    m_rect = QRect();
}

void TMMInfoBox::Show(TMMDIBCanvas& picture, QPoint at, const QString& text)
{
    Restore(picture);
    if (text.isEmpty()) {
        return;
    }
    // at and the picture are in device pixels; the box keeps its logical size on the screen.
    const qreal ratio = picture.DevicePixelRatio();
    const auto px = [ratio](int logical) { return zv::DevicePixels(logical, ratio); };
    const QFont font = zv::DeviceFont(zv::MakeFont(QStringLiteral("MS Sans Serif"), 8), ratio);
    const QFontMetrics metrics(font);
    const int W = picture.Width(), H = picture.Height();
    const int w = metrics.horizontalAdvance(text) + px(4);
    const int h = metrics.height() + px(2);
    int x = at.x();
    int y = at.y() + px(15);
    if (y + h > H) {
        y -= px(40);
    }
    if (x + w > W) {
        x = W - w;
    }
    if (y < 0) {
        y = 0;
    }
    m_rect = QRect(x, y, w, h).intersected(QRect(0, 0, W, H));
    {
        TMMDIBDrawScope scope(m_save);
        m_save.CopyBits(
            picture, m_rect.x(), m_rect.y(), m_rect.width(), m_rect.height(), m_rect.x(), m_rect.y());
    }
    TMMDIBDrawScope scope(picture);
    picture.SetDrawColor(clWhite);
    picture.FillRect(QRect(x, y, w, h));
    picture.SetDrawColor(clBlack);
    picture.HLine(x, x + w, y);
    picture.HLine(x, x + w, y + h - 1);
    picture.VLine(x, y, y + h);
    picture.VLine(x + w - 1, y, y + h);
    picture.TextOut(font, x + px(2), y + px(1), text);
}
