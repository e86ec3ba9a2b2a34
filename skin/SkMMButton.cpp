#include "skin/SkMMButton.h"

#include <QCursor>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

// ---------------------------------------------------------------------------------------------------
// TSkBaseGraphicButton

TSkBaseGraphicButton::TSkBaseGraphicButton(QWidget* parent)
    : QWidget(parent)
    , FColor(palette().color(QPalette::Window))
    , FTimerSource(&zv::QtTimerSource())
    , FCursorPos([] { return QCursor::pos(); })
{
    resize(25, 25);
    // Movement without a held button drives the hot state and the face-pixel enter detection.
    setMouseTracking(true);
}

TSkBaseGraphicButton::~TSkBaseGraphicButton() = default;

void TSkBaseGraphicButton::SetTimerSource(zv::SkTimerSource* source)
{
    FHoverTimer.reset();
    FRepeatTimer.reset();
    FTimerSource = source ? source : &zv::QtTimerSource();
}

void TSkBaseGraphicButton::EnsureTimers()
{
    if (!FHoverTimer) {
        FHoverTimer = FTimerSource->CreateTimer();
        FHoverTimer->OnTimer = [this] { HoverCheck(); };
    }
    if (!FRepeatTimer) {
        FRepeatTimer = FTimerSource->CreateTimer();
        FRepeatTimer->OnTimer = [this] {
            if (FMouseInside) {
                RepeatClick();
            }
        };
    }
}

void TSkBaseGraphicButton::SetTransparent(bool v)
{
    if (v == FTransparent) {
        return;
    }
    FTransparent = v;
    update();
}

void TSkBaseGraphicButton::SetColor(const QColor& c)
{
    FColor = c;
    update();
}

void TSkBaseGraphicButton::SetCaption(const QString& c)
{
    FCaption = c;
    update();
}

void TSkBaseGraphicButton::SetGroupIndex(int v)
{
    if (v == FGroupIndex) {
        return;
    }
    FGroupIndex = v;
    BroadcastLatch();
}

void TSkBaseGraphicButton::SetAllowAllUp(bool v)
{
    if (v == FAllowAllUp) {
        return;
    }
    FAllowAllUp = v;
    BroadcastLatch();
}

void TSkBaseGraphicButton::SetPressed(bool v)
{
    if (FGroupIndex == 0) {
        v = false;
    }
    if (v == FPressed || (FPressed && !FAllowAllUp)) {
        return;
    }
    FPressed = v;
    FButtonState = v ? zv::bsLatched : zv::bsUp;
    update();
    if (v) {
        BroadcastLatch();
    }
}

void TSkBaseGraphicButton::BroadcastLatch()
{
    QWidget* parent = parentWidget();
    if (!parent) {
        return;
    }
    for (QObject* child : parent->children()) {
        if (auto* b = qobject_cast<TSkBaseGraphicButton*>(child); b && b != this) {
            b->LatchMessage(this);
        }
    }
}

void TSkBaseGraphicButton::LatchMessage(const TSkBaseGraphicButton* sender)
{
    if (FGroupIndex == 0 || sender->FGroupIndex != FGroupIndex) {
        return;
    }
    FAllowAllUp = sender->FAllowAllUp;
    if (FPressed && sender->FPressed) {
        FPressed = false;
        FButtonState = zv::bsUp;
        update();
    }
}

void TSkBaseGraphicButton::SetButtonState(std::uint8_t s)
{
    if (s == FButtonState) {
        return;
    }
    const std::uint8_t old = FButtonState;
    // Hot and latched look alike unless the glyph has faces of its own for them.
    const bool repaint = !(NumGlyphs < 3
        && ((old == zv::bsHot && s == zv::bsLatched) || (old == zv::bsLatched && s == zv::bsHot)));
    FPrevState = (s == zv::bsHot && old != zv::bsLatched) ? zv::bsUp : old;
    FButtonState = s;
    if (repaint && isVisible()) {
        update();
    }
    if (FAllowMouseOver) {
        EnsureTimers();
        if (old == zv::bsHot) {
            FHoverTimer->Stop();
        }
        if (s == zv::bsHot && !FPressed) {
            FHoverTimer->Start(100);
        }
    }
}

QRect TSkBaseGraphicButton::CaptionRect() const
{
    const bool down
        = FButtonState == zv::bsLatched || FButtonState == zv::bsPressed || FButtonState == zv::bsMenuOpen;
    return down ? rect().translated(CaptionDown, CaptionDown) : rect();
}

bool TSkBaseGraphicButton::HitTest(int x, int y) const
{
    return rect().contains(x, y);
}

bool TSkBaseGraphicButton::OnButton(QPoint p, Rule rule) const
{
    if (AllowTransparency) {
        return HitTest(p.x(), p.y());
    }
    const bool xIn = rule == Rule::Move ? p.x() >= 0 && p.x() <= width() : p.x() >= 0 && p.x() < width();
    return xIn && p.y() >= 0 && p.y() <= height();
}

void TSkBaseGraphicButton::MouseEntered()
{
    if (isEnabled()) {
        emit OnMouseEnter();
    }
}

void TSkBaseGraphicButton::MouseLeft()
{
    if (isEnabled()) {
        emit OnMouseExit();
    }
}

void TSkBaseGraphicButton::ContentChanged()
{
    update();
}

void TSkBaseGraphicButton::RepeatClick()
{
    EnsureTimers();
    FRepeatTimer->SetInterval(RepeatingInterval);
    Click();
}

void TSkBaseGraphicButton::Click()
{
    emit OnClick();
}

void TSkBaseGraphicButton::HoverCheck()
{
    if (!OnButton(mapFromGlobal(FCursorPos()), Rule::Release) && isEnabled() && !FPressed) {
        SetButtonState(zv::bsUp);
    }
}

void TSkBaseGraphicButton::DrawCaption(QPainter& painter, const QRect& rect)
{
    if (!UseCaption || FCaption.isEmpty()) {
        return;
    }
    painter.setFont(font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect, Qt::AlignCenter | (MultiLine ? Qt::TextWordWrap : 0), FCaption);
}

void TSkBaseGraphicButton::OpenDropDown()
{
    QPointer<TSkBaseGraphicButton> self(this);
    SetButtonState(zv::bsMenuOpen);
    emit OnDropDown();
    if (!self || !DropDownMenu) {
        return;
    }
    const QPoint at = DropDownRight ? QPoint(width(), DropDownIndent) : QPoint(DropDownIndent, height());
    DropDownMenu->exec(mapToGlobal(at));
    if (!self) {
        return;
    }
    if (QWidget* grabber = QWidget::mouseGrabber()) {
        grabber->releaseMouse();
    }
    SetButtonState(zv::bsHot);
}

void TSkBaseGraphicButton::Press(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit OnMouseDown(event->button(), p);
    event->accept();
    if (AllowTransparency && !HitTest(p.x(), p.y())) {
        return;
    }
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        return;
    }
    if (DropDownMenu) {
        if (FButtonState == zv::bsMenuOpen) {
            SetButtonState(zv::bsHot);
        } else {
            QPointer<TSkBaseGraphicButton> self(this);
            const std::uint8_t before = FButtonState;
            OpenDropDown();
            if (self) {
                SetButtonState(before);
            }
        }
        return;
    }
    // The press point is on the button: a press without a move first (a touch) is inside too.
    if (!FMouseInside) {
        MouseEntered();
        FMouseInside = true;
    }
    FMouseHeld = true;
    std::uint8_t s = FButtonState;
    if (FPrevState == zv::bsLatched && FButtonState == zv::bsHot && FGroupIndex != 0) {
        s = zv::bsLatched;
    } else if (!FPressed) {
        s = zv::bsPressed;
        if (RepeatedClick) {
            QPointer<TSkBaseGraphicButton> self(this);
            RepeatClick();
            if (!self) {
                return;
            }
            FRepeatTimer->Start(RepeatingDelay);
        }
    }
    SetButtonState(s);
}

void TSkBaseGraphicButton::mousePressEvent(QMouseEvent* event)
{
    Press(event);
}

void TSkBaseGraphicButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like any other.
    QPointer<TSkBaseGraphicButton> self(this);
    Press(event);
    if (self && FPressed) {
        emit OnDblClick();
    }
}

void TSkBaseGraphicButton::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit OnMouseMove(p);
    if (FButtonState == zv::bsMenuOpen || !isEnabled()) {
        return;
    }
    const bool b = OnButton(p, Rule::Move);
    std::uint8_t cand = FButtonState;
    if (AllowTransparency) {
        if (b && FAllowMouseOver && !(FPressed && FGroupIndex != 0)) {
            cand = zv::bsHot;
        } else if (FButtonState == zv::bsHot) {
            cand = FPrevState;
        }
    }
    if (FMouseHeld) {
        if (b) {
            cand = FPressed ? zv::bsLatched : zv::bsPressed;
        } else if (FGroupIndex == 0 || FButtonState == zv::bsPressed) {
            cand = zv::bsUp;
        }
    }
    SetButtonState(cand);
    if (b && !FMouseInside) {
        MouseEntered();
        FMouseInside = true;
        if (FButtonState == zv::bsUp && FAllowMouseOver) {
            SetButtonState(zv::bsHot);
        }
    }
    FMouseInside = b;
}

void TSkBaseGraphicButton::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit OnMouseUp(event->button(), p);
    event->accept();
    // Only the release of the left button that began a press on the button ends it.
    if (FButtonState == zv::bsMenuOpen || !FMouseHeld || event->button() != Qt::LeftButton) {
        return;
    }
    FMouseHeld = false;
    if (FRepeatTimer) {
        FRepeatTimer->Stop();
    }
    const bool inside = OnButton(p, Rule::Release);
    const std::uint8_t state = FButtonState;
    std::uint8_t next = (state == zv::bsDisabled || state == zv::bsDisabledLatched) ? state : zv::bsUp;
    bool pressedSet = false;
    if (FGroupIndex != 0) {
        if (inside) {
            if (FPressed && !FAllowAllUp) {
                return;
            }
            SetPressed(!FPressed);
            pressedSet = true;
        } else if (FPressed) {
            next = zv::bsLatched;
        }
    } else if (inside && FAllowMouseOver && isEnabled()) {
        next = zv::bsHot;
    }
    if (!inside) {
        if (!pressedSet) {
            SetButtonState(next);
        }
        return;
    }
    if (NumGlyphs < 3 && !pressedSet) {
        SetButtonState(next);
    }
    QPointer<TSkBaseGraphicButton> self(this);
    if (!RepeatedClick) {
        Click();
    }
    if (!self) {
        return;
    }
    if (NumGlyphs >= 3 && !pressedSet && FButtonState != zv::bsDisabled
        && FButtonState != zv::bsDisabledLatched) {
        const bool still = OnButton(mapFromGlobal(FCursorPos()), Rule::Release);
        SetButtonState(still && next == zv::bsUp ? zv::bsHot : next);
    }
}

void TSkBaseGraphicButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    // With face-pixel tracking, entering is detected by movement over the face instead.
    if (AllowTransparency) {
        return;
    }
    MouseEntered();
    FMouseInside = true;
    if (FButtonState == zv::bsUp && FAllowMouseOver && isEnabled()) {
        SetButtonState(zv::bsHot);
    }
}

void TSkBaseGraphicButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    MouseLeft();
    FMouseInside = false;
    if (FButtonState == zv::bsHot) {
        SetButtonState(FPrevState);
    }
    if (HideHint) {
        QToolTip::hideText();
    }
}

void TSkBaseGraphicButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::EnabledChange) {
        return;
    }
    if (!isEnabled()) {
        // A disabled button receives no release: a press in progress ends here.
        FMouseHeld = false;
        if (FRepeatTimer) {
            FRepeatTimer->Stop();
        }
    }
    FButtonState = FPressed ? (isEnabled() ? zv::bsLatched : zv::bsDisabledLatched)
                            : (isEnabled() ? zv::bsUp : zv::bsDisabled);
    update();
}

// ---------------------------------------------------------------------------------------------------
// TSkCustomMMButton

TSkCustomMMButton::TSkCustomMMButton(QWidget* parent)
    : TSkBaseGraphicButton(parent)
{
}

void TSkCustomMMButton::SetButtonFaceImageList(TSkCustomImageList* list)
{
    if (list == FFaceList) {
        return;
    }
    disconnect(FChangedLink);
    disconnect(FDestroyedLink);
    FFaceList = list;
    if (list) {
        FChangedLink = connect(list, &TSkCustomImageList::Changed, this, [this] { FaceListChanged(); });
        FDestroyedLink = connect(list, &QObject::destroyed, this, [this] {
            FFaceList = nullptr;
            FaceListChanged();
        });
    }
    FaceListChanged();
}

void TSkCustomMMButton::SetButtonFaceStyle(TSkBitmapStyle style)
{
    if (style == FFaceStyle) {
        return;
    }
    FFaceStyle = style;
    update();
}

void TSkCustomMMButton::SetQuickDraw(bool v)
{
    if (v == FQuickDraw) {
        return;
    }
    FQuickDraw = v;
    update();
}

void TSkCustomMMButton::SetForceTransparent(bool v)
{
    if (v == FForceTransparent) {
        return;
    }
    FForceTransparent = v;
    update();
}

void TSkCustomMMButton::SetFaceTable(const TSkFaceTable& table)
{
    FFaceTable = table;
    ContentChanged();
}

void TSkCustomMMButton::SetFace(int state, FaceEntry entry)
{
    FFaceTable.at(std::size_t(state)) = entry;
    ContentChanged();
}

void TSkCustomMMButton::LoadStoredFaces(const zv::SkStoredObject& stored)
{
    zv::ReadStoredFaces(stored, FFaceTable, FHitColor);
    ContentChanged();
}

std::vector<zv::SkStoredValue> TSkCustomMMButton::StoredFaces() const
{
    return zv::WriteStoredFaces(FFaceTable, FHitColor);
}

void TSkCustomMMButton::FaceListChanged()
{
    ContentChanged();
}

bool TSkCustomMMButton::EntryHasImage(const FaceEntry& e) const
{
    return FFaceList && FFaceList->HasImage(e.ListIndex, e.ImageIndex);
}

int TSkCustomMMButton::DrawnEntry() const
{
    return zv::SkFaceEntryFor(
        ButtonState(), FFaceTable, [this](const FaceEntry& e) { return EntryHasImage(e); });
}

bool TSkCustomMMButton::HitTest(int x, int y) const
{
    // Presses are tested against the face on the screen: a state without a face of its own shows
    // its fallback face, and that one takes the press (a missing pressed face must not make the
    // button unclickable).
    const int a = DrawnEntry();
    if (a < 0 || !FFaceRect.contains(x, y)) {
        return false;
    }
    const FaceEntry& e = FFaceTable[std::size_t(a)];
    if (!EntryHasImage(e)) {
        return false;
    }
    const QSize face(FFaceList->ImageDimension(e.ListIndex, 0), FFaceList->ImageDimension(e.ListIndex, 1));
    const QPoint at = zv::SkFacePixelAt(FFaceStyle, face, FFaceRect, { x, y });
    return !zv::SameColor(FFaceList->ImagePixel(at, e.ListIndex, e.ImageIndex), FHitColor);
}

QSize TSkCustomMMButton::AutoSize() const
{
    const FaceEntry& e = FFaceTable[ButtonState()];
    const int w = FFaceList ? FFaceList->ImageDimension(e.ListIndex, 0) : 0;
    const int h = FFaceList ? FFaceList->ImageDimension(e.ListIndex, 1) : 0;
    return { w ? w : 20, h ? h : 20 };
}

void TSkCustomMMButton::FitToFace()
{
    if (FFaceStyle == sbAutosize && FFaceList && size() != AutoSize()) {
        resize(AutoSize());
    }
}

void TSkCustomMMButton::paintEvent(QPaintEvent*)
{
    FFaceRect = QRect();
    QPainter painter(this);
    if (!FFaceList) {
        if (!Transparent()) {
            painter.fillRect(rect(), Color());
        }
        return;
    }
    if (FFaceStyle == sbAutosize && size() != AutoSize()) {
        // Resizing inside a paint is unsafe; the resize repaints.
        QTimer::singleShot(0, this, [this] { FitToFace(); });
        return;
    }
    QImage off(size(), QImage::Format_ARGB32_Premultiplied);
    off.fill(Transparent() ? QColor(Qt::transparent) : Color());
    const int a = DrawnEntry();
    if (a < 0) {
        return; // no up face: nothing at all is drawn
    }
    const FaceEntry& e = FFaceTable[std::size_t(a)];
    if (EntryHasImage(e)) {
        unsigned flags = FQuickDraw ? 0u : unsigned(zv::sdfPalette);
        if (Transparent() || FForceTransparent) {
            flags |= zv::sdfTransparent;
        }
        FFaceList->DrawImageInRect(off, rect(), &FFaceRect, e.ImageIndex, e.ListIndex, flags, FFaceStyle);
    }
    {
        QPainter caption(&off);
        DrawCaption(caption, CaptionRect());
    }
    painter.drawImage(0, 0, off);
}

void zv::SetUpProgramButton(TSkMMButton* button, TSkBitmapList* faces, const SkStoredObject& stored)
{
    button->SetTransparent(true);
    button->SetAllowMouseOver(false);
    button->SetButtonFaceStyle(sbNone);
    button->setCursor(Qt::PointingHandCursor);
    button->SetButtonFaceImageList(faces);
    button->LoadStoredFaces(stored);
}
