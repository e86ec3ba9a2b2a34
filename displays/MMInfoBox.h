#pragma once

#include "displays/MMDIBCv.h"

#include <QPoint>
#include <QRect>
#include <QString>

// The text box that the signal displays' info mode draws into their picture beside the mouse: it
// keeps what it covers, so moving or ending it puts the picture back as it was.
class TMMInfoBox {
public:
    explicit TMMInfoBox(const QString& ownerClassName);

    // The picture's size and depth; a resize forgets a box shown on the old picture.
    void SetSize(int width, int height);
    void SetBitsPerPixel(int bits);

    // Puts back the picture under the box; nothing when none is shown.
    void Restore(TMMDIBCanvas& picture);
    // Moves the box to the point (picture coordinates, the box goes 15 pixels below it and stays
    // inside the picture) showing text; an empty text only removes the box.
    void Show(TMMDIBCanvas& picture, QPoint at, const QString& text);
    // Forgets the box without touching the picture (it was redrawn whole).
    void Forget() { m_rect = QRect(); }

private:
    TMMDIBCanvas m_save; // the picture under the box
    QRect m_rect; // in picture coordinates; empty when no box is shown
};
