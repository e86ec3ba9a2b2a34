#pragma once

#include "skin/SkFaceTable.h"
#include "skin/SkTimer.h"
#include "skin/skcont.h"

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QMenu;

// A push button drawn by its subclass, with the states, the mouse handling, the latch groups, the
// hover and auto-repeat timers and the caption. Clicks are raised by the button itself (OnClick).
class TSkBaseGraphicButton : public QWidget {
    Q_OBJECT
    // Reachable by name, so a language file can translate it.
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    explicit TSkBaseGraphicButton(QWidget* parent = nullptr);
    ~TSkBaseGraphicButton() override;

    std::uint8_t ButtonState() const { return FButtonState; }
    std::uint8_t PrevState() const { return FPrevState; }
    bool MouseHeld() const { return FMouseHeld; }
    bool MouseInside() const { return FMouseInside; }

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v);
    bool AllowTransparency = true; // presses and tracking use the face's pixels
    bool AllowMouseOver() const { return FAllowMouseOver; }
    void SetAllowMouseOver(bool v) { FAllowMouseOver = v; }
    int CaptionDown = 1;

    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int v);
    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool v);
    bool Pressed() const { return FPressed; }
    void SetPressed(bool v);

    QMenu* DropDownMenu = nullptr;
    int DropDownIndent = 0;
    bool DropDownRight = false;

    bool RepeatedClick = false;
    std::uint16_t RepeatingDelay = 500;
    std::uint16_t RepeatingInterval = 100;
    bool HideHint = true;

    QColor Color() const { return FColor; }
    void SetColor(const QColor& c);
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& c);
    bool UseCaption = true;
    bool MultiLine = false;
    int NumGlyphs = 1;

    // Hover and auto-repeat timers come from here (the Qt event loop unless a test sets a clock); the
    // source must outlive the button.
    void SetTimerSource(zv::SkTimerSource* source);
    // Where the pointer is on the screen, for the hover check.
    void SetCursorSource(std::function<QPoint()> source) { FCursorPos = std::move(source); }

signals:
    void OnClick();
    void OnDblClick();
    void OnDropDown();
    void OnMouseDown(Qt::MouseButton button, QPoint pos);
    void OnMouseMove(QPoint pos);
    void OnMouseUp(Qt::MouseButton button, QPoint pos);
    void OnMouseEnter();
    void OnMouseExit();

protected:
    virtual void MouseEntered();
    virtual void MouseLeft();
    virtual void ContentChanged();
    virtual bool UsesPlainLook() const { return true; }
    // The library's own containers would paint a transparent button's background; none here do.
    virtual bool ParentPaintsBackground() const { return false; }
    virtual void RepeatClick();
    virtual void DrawCaption(QPainter& painter, const QRect& rect);
    // Whether (x, y) belongs to the button; here its client rectangle.
    virtual bool HitTest(int x, int y) const;
    virtual void HoverCheck();
    virtual void Click();

    void SetButtonState(std::uint8_t s);
    // The caption's rectangle in the current state: moved by CaptionDown while held down.
    QRect CaptionRect() const;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Rule { Move, Release };
    bool OnButton(QPoint p, Rule rule) const;
    void Press(QMouseEvent* event);
    void OpenDropDown();
    void BroadcastLatch();
    void LatchMessage(const TSkBaseGraphicButton* sender);
    void EnsureTimers();

    std::uint8_t FButtonState = 0;
    std::uint8_t FPrevState = 0;
    bool FMouseHeld = false;
    bool FMouseInside = false;
    bool FTransparent = false;
    bool FAllowMouseOver = false;
    int FGroupIndex = 0;
    bool FAllowAllUp = false;
    bool FPressed = false;
    QColor FColor;
    QString FCaption;

    zv::SkTimerSource* FTimerSource;
    std::unique_ptr<zv::SkTimer> FHoverTimer;
    std::unique_ptr<zv::SkTimer> FRepeatTimer;
    std::function<QPoint()> FCursorPos;
};

// An image button: every state draws a face from a face list (ButtonFaceImageList) by the face
// table, one colour of the face see-through, and only the face's pixels not of HitColor take presses.
class TSkCustomMMButton : public TSkBaseGraphicButton {
    Q_OBJECT
public:
    explicit TSkCustomMMButton(QWidget* parent = nullptr);

    TSkCustomImageList* ButtonFaceImageList() const { return FFaceList; }
    void SetButtonFaceImageList(TSkCustomImageList* list);
    TSkBitmapStyle ButtonFaceStyle() const { return FFaceStyle; }
    void SetButtonFaceStyle(TSkBitmapStyle style);
    bool QuickDraw() const { return FQuickDraw; }
    void SetQuickDraw(bool v);
    bool ForceTransparent() const { return FForceTransparent; }
    void SetForceTransparent(bool v);

    const TSkFaceTable& FaceTable() const { return FFaceTable; }
    void SetFaceTable(const TSkFaceTable& table);
    void SetFace(int state, FaceEntry entry);
    QRgb HitColor() const { return FHitColor; }
    void SetHitColor(QRgb c) { FHitColor = c | 0xFF000000u; }

    // The rectangle the face covered in the last paint; empty before the first.
    QRect FaceRect() const { return FFaceRect; }

    // Reads the face table and hit colour from the button's stored values.
    void LoadStoredFaces(const zv::SkStoredObject& stored);
    std::vector<zv::SkStoredValue> StoredFaces() const;

protected:
    bool UsesPlainLook() const override { return !FFaceList; }
    bool HitTest(int x, int y) const override;
    virtual void FaceListChanged();
    void paintEvent(QPaintEvent* event) override;

private:
    bool EntryHasImage(const FaceEntry& e) const;
    // The face table entry the current state draws (its own or its fallback); -1 for none.
    int DrawnEntry() const;
    // The size sbAutosize gives: the current state's face, 20 for a missing dimension.
    QSize AutoSize() const;
    void FitToFace();

    QPointer<TSkCustomImageList> FFaceList;
    QMetaObject::Connection FChangedLink;
    QMetaObject::Connection FDestroyedLink;
    TSkBitmapStyle FFaceStyle = sbNone;
    bool FQuickDraw = false;
    bool FForceTransparent = true;
    TSkFaceTable FFaceTable {};
    QRgb FHitColor = qRgb(255, 255, 255);
    QRect FFaceRect;
};

class TSkMMButton : public TSkCustomMMButton {
    Q_OBJECT
public:
    using TSkCustomMMButton::TSkCustomMMButton;
};

namespace zv {
// One of the program's image buttons as its windows configure them: transparent, no hot state,
// faces placed as they are, hand cursor, faces and hit colour from the button's stored values.
void SetUpProgramButton(TSkMMButton* button, TSkBitmapList* faces, const SkStoredObject& stored);
} // namespace zv
