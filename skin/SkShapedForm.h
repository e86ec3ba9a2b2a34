#pragma once

#include "platform/Exception.h"

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QWidget>

// A skin placed on something that is not a window.
ZV_DECLARE_EXCEPTION(ESkShapedFormError, Exception);

// The skin of a window: shows a picture and, while Active, cuts its window down to the picture's
// pixels that differ from the top-left one, takes away the window's frame and title bar, and lets
// the operator drag the window by pressing on the picture. The cut is drawn as well as masked: the
// window is see-through outside the shape, because some window systems (Wayland) take a mask for
// input only and would show the window's rectangle around the skin.
class TSkShapedForm : public QWidget {
    Q_OBJECT
public:
    // `form` must be a window; the skin is placed on `parent`, the form itself when none is given.
    explicit TSkShapedForm(QWidget* form, QWidget* parent = nullptr);

    const QImage& Picture() const { return FPicture; }
    // With AutoSize the control takes the picture's size. Set it before Active: the shape is built
    // when Active is set.
    void SetPicture(const QImage& picture);

    bool Active() const { return FActive; }
    // Applies (true) or removes (false) the shape, on every assignment. The see-through window is
    // chosen when the native window is made: set it before the form is first shown.
    void SetActive(bool active);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool autoSize);
    // Pixels of the picture's bottom-left colour are not drawn.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool transparent);

    // A press anywhere moves the window; otherwise only presses on pixels of CaptionColor do.
    bool AlwaysMove = true;
    QRgb CaptionColor = qRgb(0, 0, 0);

    // Number of one-pixel-high rectangles of the last shape applied (0: none, full rectangle).
    int ShapeRectCount() const { return FShapeRects; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // Hands the move to the window system; false where it cannot (then the skin moves the window).
    virtual bool StartSystemMove();

private:
    void ApplyShape();
    void RemoveShape();
    void SetFormFlags(Qt::WindowFlags flags);
    void SetSeeThrough(bool on);

    QWidget* FForm;
    QImage FPicture;
    QImage FShown; // the picture as painted (see-through pixels cleared)
    bool FActive = false;
    bool FAutoSize = true;
    bool FTransparent = false;
    Qt::WindowFlags FSavedFlags; // the form's frame before the last shape was applied
    int FShapeRects = 0;
    QRegion FShapeArea; // the runs in the picture's coordinates; painting stays inside them
    // Whether the skin made the form see-through, and the form's see-through background and its own
    // background fill from before.
    bool FSeeThrough = false;
    bool FSavedTranslucent = false;
    bool FSavedNoBackground = false;
    bool FDragging = false; // moving the window ourselves
    QPoint FDragOffset; // press point relative to the window's top-left
};
