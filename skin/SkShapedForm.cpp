#include "skin/SkShapedForm.h"

#include "platform/ResStrings.h"
#include "skin/SkRegion.h"
#include "skin/skcont.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

TSkShapedForm::TSkShapedForm(QWidget* form, QWidget* parent)
    : QWidget(parent ? parent : form)
    , FForm(form)
{
    if (!form || !form->isWindow()) {
        throw ESkShapedFormError(zv::LoadResString(zv::SSkinWithoutWindow));
    }
    if (parent && parent != form && !form->isAncestorOf(parent)) {
        throw ESkShapedFormError(zv::LoadResString(zv::SSkinOutsideWindow));
    }
    FSavedFlags = form->windowFlags();
    resize(105, 105);
}

void TSkShapedForm::SetPicture(const QImage& picture)
{
    FPicture = picture.convertToFormat(QImage::Format_RGB32);
    SetTransparent(FTransparent);
    if (FAutoSize && !FPicture.isNull()) {
        resize(FPicture.size());
    }
    update();
}

void TSkShapedForm::SetAutoSize(bool autoSize)
{
    FAutoSize = autoSize;
    if (FAutoSize && !FPicture.isNull()) {
        resize(FPicture.size());
    }
}

void TSkShapedForm::SetTransparent(bool transparent)
{
    FTransparent = transparent;
    FShown = FPicture;
    if (FTransparent && !FPicture.isNull()) {
        FShown = FPicture.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = FPicture.pixel(0, FPicture.height() - 1);
        for (int y = 0; y < FShown.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(FShown.scanLine(y));
            for (int x = 0; x < FShown.width(); ++x) {
                if (zv::SameColor(row[x], key)) {
                    row[x] = 0;
                }
            }
        }
    }
    update();
}

void TSkShapedForm::SetActive(bool active)
{
    FActive = active;
    if (active) {
        ApplyShape();
    } else {
        RemoveShape();
    }
}

void TSkShapedForm::SetFormFlags(Qt::WindowFlags flags)
{
    if (FForm->windowFlags() == flags) {
        return;
    }
    // Changing the frame recreates the native window, which hides it.
    const bool visible = FForm->isVisible();
    FForm->setWindowFlags(flags);
    if (visible) {
        FForm->show();
    }
}

void TSkShapedForm::SetSeeThrough(bool on)
{
    if (on == FSeeThrough) {
        return;
    }
    if (on) {
        FSavedTranslucent = FForm->testAttribute(Qt::WA_TranslucentBackground);
        FSavedNoBackground = FForm->testAttribute(Qt::WA_NoSystemBackground);
        FForm->setAttribute(Qt::WA_TranslucentBackground, true);
    } else {
        // Qt sets the second with the first but does not clear it with it.
        FForm->setAttribute(Qt::WA_TranslucentBackground, FSavedTranslucent);
        FForm->setAttribute(Qt::WA_NoSystemBackground, FSavedNoBackground);
    }
    FSeeThrough = on;
}

void TSkShapedForm::ApplyShape()
{
    FSavedFlags = FForm->windowFlags();
    if (FPicture.isNull()) {
        return;
    }
    const QPoint offset = mapTo(FForm, QPoint(0, 0));
    const std::vector<QRect> runs = zv::SkShapeRuns(FPicture);
    FShapeRects = int(runs.size());
    FShapeArea = zv::SkShapeRegion(runs, QPoint(0, 0));
    // Before the frame goes: a window takes its see-through surface when it is made, and taking the
    // frame away makes it anew.
    SetSeeThrough(!runs.empty());
    SetFormFlags(FSavedFlags | Qt::FramelessWindowHint);
    // The mask still limits the input to the shape, and cuts it where nothing composes the see-through.
    if (runs.empty()) {
        FForm->clearMask();
    } else {
        FForm->setMask(zv::SkShapeRegion(runs, offset));
    }
    FForm->update();
}

void TSkShapedForm::RemoveShape()
{
    FForm->clearMask();
    SetSeeThrough(false);
    FShapeRects = 0;
    FShapeArea = QRegion();
    FForm->update();
    SetFormFlags(FSavedFlags);
}

void TSkShapedForm::paintEvent(QPaintEvent*)
{
    if (FShown.isNull()) {
        return;
    }
    QPainter p(this);
    // Outside the shape the window stays see-through, exactly where the mask cuts it.
    if (FActive && !FShapeArea.isEmpty()) {
        p.setClipRegion(FShapeArea);
    }
    p.drawImage(0, 0, FShown);
}

bool TSkShapedForm::StartSystemMove()
{
    QWindow* w = FForm->windowHandle();
    return w && w->startSystemMove();
}

void TSkShapedForm::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (!FActive || event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint p = event->position().toPoint();
    const bool onCaption = FPicture.valid(p) && zv::SameColor(FPicture.pixel(p), CaptionColor);
    if (!AlwaysMove && !onCaption) {
        return;
    }
    event->accept();
    if (StartSystemMove()) {
        return;
    }
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - FForm->frameGeometry().topLeft();
}

void TSkShapedForm::mouseMoveEvent(QMouseEvent* event)
{
    if (FDragging && (event->buttons() & Qt::LeftButton)) {
        FForm->move(event->globalPosition().toPoint() - FDragOffset);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TSkShapedForm::mouseReleaseEvent(QMouseEvent* event)
{
    if (FDragging && event->button() == Qt::LeftButton) {
        FDragging = false;
    }
    QWidget::mouseReleaseEvent(event);
}
