#include "skin/SkMMButton.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);
constexpr QRgb kBackground = qRgb(255, 0, 255);

// Timers on a virtual clock: Advance() runs every due tick in time order.
class VirtualTimers : public zv::SkTimerSource {
public:
    class Timer : public zv::SkTimer {
    public:
        explicit Timer(VirtualTimers* owner)
            : FOwner(owner)
        {
            owner->FTimers.push_back(this);
        }
        ~Timer() override { std::erase(FOwner->FTimers, this); }
        void Start(int ms) override
        {
            FInterval = ms;
            FDue = FOwner->Now + ms;
            FActive = true;
        }
        void SetInterval(int ms) override
        {
            FInterval = ms;
            if (FActive)
                FDue = FOwner->Now + ms;
        }
        void Stop() override { FActive = false; }
        bool Active() const override { return FActive; }

        VirtualTimers* FOwner;
        bool FActive = false;
        int FInterval = 0;
        qint64 FDue = 0;
    };

    std::unique_ptr<zv::SkTimer> CreateTimer() override { return std::make_unique<Timer>(this); }

    void Advance(qint64 ms)
    {
        const qint64 end = Now + ms;
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : FTimers)
                if (t->FActive && t->FDue <= end && (!next || t->FDue < next->FDue))
                    next = t;
            if (!next)
                break;
            Now = next->FDue;
            next->FDue = Now + next->FInterval;
            next->OnTimer();
        }
        Now = end;
    }

    qint64 Now = 0;

private:
    std::vector<Timer*> FTimers;
};

// The main window's face list and a button set up as the program sets up BConfig, on a magenta host.
class ImageButton : public ::testing::Test {
protected:
    void SetUp() override
    {
        Form = zv::LoadWindowData(":/forms/Frm_ZoVeva.dat");
        Faces.LoadFrom(Form.RequireChild("SkBitmapList2"));
        Host.resize(120, 60);
        Host.setAutoFillBackground(true);
        QPalette pal = Host.palette();
        pal.setColor(QPalette::Window, QColor(kBackground));
        Host.setPalette(pal);
        Button = MakeButton("BConfig", { 10, 10 });
        Host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Host));
        Shot();
    }

    TSkMMButton* MakeButton(const char* stored, QPoint at)
    {
        auto* b = new TSkMMButton(&Host);
        zv::SetUpProgramButton(b, &Faces, Form.RequireChild(stored));
        b->move(at);
        b->resize(25, 25);
        b->show();
        return b;
    }

    // Renders the host and its buttons (the buttons' face rectangles follow); the button's pixels.
    QImage Shot(TSkMMButton* b = nullptr)
    {
        b = b ? b : Button;
        return Host.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(b->geometry());
    }

    // What the button must show with face `item`: its pixels from the top-left, navy ones see-through.
    QImage Expected(int item)
    {
        QImage out(25, 25, QImage::Format_RGB32);
        out.fill(kBackground);
        const QImage& face = Faces.Item(item).Bitmap;
        for (int y = 0; y < std::min(25, face.height()); ++y)
            for (int x = 0; x < 25; ++x)
                if (face.pixel(x, y) != kNavy)
                    out.setPixel(x, y, face.pixel(x, y));
        return out;
    }

    static void Mouse(TSkMMButton* b, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        const Qt::MouseButtons held
            = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, at, b->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
            Qt::NoModifier);
        QApplication::sendEvent(b, &e);
    }
    void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Mouse(Button, QEvent::MouseButtonPress, at, button);
    }
    void Move(QPoint at) { Mouse(Button, QEvent::MouseMove, at); }
    void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Mouse(Button, QEvent::MouseButtonRelease, at, button);
    }
    void Click(TSkMMButton* b)
    {
        Mouse(b, QEvent::MouseButtonPress, kOnFace);
        Mouse(b, QEvent::MouseButtonRelease, kOnFace);
    }

    static constexpr QPoint kOnFace { 12, 11 };
    zv::SkStoredObject Form;
    TSkBitmapList Faces;
    VirtualTimers Clock; // outlives the buttons' timers
    QWidget Host;
    TSkMMButton* Button = nullptr;
};

} // namespace

TEST_F(ImageButton, ShowsItsUpFaceSeeThroughOnNavy)
{
    EXPECT_EQ(Shot(), Expected(2));
    EXPECT_EQ(Button->FaceRect(), QRect(0, 0, 25, 24));
    EXPECT_EQ(Button->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ImageButton, PressOnANavyPixelDoesNothing)
{
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    // Corners of the face and its bottom row, which lies below the 24-row up face.
    for (QPoint at : { QPoint(0, 0), QPoint(24, 0), QPoint(0, 23), QPoint(12, 24) }) {
        Press(at);
        EXPECT_EQ(Button->ButtonState(), zv::bsUp) << at.x() << "," << at.y();
        EXPECT_FALSE(Button->MouseHeld());
        Release(at);
        Release(kOnFace);
    }
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ImageButton, PressShowsThePressedFaceWhileOnItAndReleaseOnItClicks)
{
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    Press(kOnFace);
    EXPECT_EQ(Button->ButtonState(), zv::bsPressed);
    EXPECT_EQ(Shot(), Expected(3)) << "the 25 x 26 face from the top left, its last row cut off";
    EXPECT_EQ(Button->FaceRect(), QRect(0, 0, 25, 26));
    Move({ 0, 0 }); // off the visible face, still on the button
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
    EXPECT_EQ(Shot(), Expected(2));
    Move(kOnFace);
    EXPECT_EQ(Button->ButtonState(), zv::bsPressed);
    EXPECT_EQ(clicks.count(), 0) << "no click before the release";
    Release(kOnFace);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
}

TEST_F(ImageButton, ReleaseOffTheFaceGivesNoClickAndTheUpFace)
{
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    for (QPoint off : { QPoint(0, 0), QPoint(-20, -20), QPoint(40, 12) }) {
        Press(kOnFace);
        Shot();
        Move(off);
        Release(off);
        EXPECT_EQ(Button->ButtonState(), zv::bsUp) << off.x() << "," << off.y();
        EXPECT_EQ(Shot(), Expected(2));
    }
    // Released off without a move in between, too.
    Press(kOnFace);
    Shot();
    Release({ -5, 3 });
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ImageButton, OtherButtonsAndRightClicksDoNotClick)
{
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    Press(kOnFace, Qt::RightButton);
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
    Release(kOnFace, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ImageButton, DoubleClickClicksTwice)
{
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    QSignalSpy doubles(Button, &TSkMMButton::OnDblClick);
    Press(kOnFace);
    Release(kOnFace);
    Mouse(Button, QEvent::MouseButtonDblClick, kOnFace);
    Release(kOnFace);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(doubles.count(), 0) << "OnDblClick is for latched buttons only";
}

TEST_F(ImageButton, MissingFacesFallBackAndAMissingUpFaceDrawsNothing)
{
    TSkFaceTable table = Button->FaceTable();
    table.fill({ 99, 0 }); // names no item
    table[0] = { 2, 0 };
    table[4] = { 3, 0 };
    Button->SetFaceTable(table);
    // Latched and disabled-latched show the pressed face, disabled the up face.
    Button->SetGroupIndex(1);
    Button->SetPressed(true);
    EXPECT_EQ(Button->ButtonState(), zv::bsLatched);
    EXPECT_EQ(Shot(), Expected(3));
    Button->setEnabled(false);
    EXPECT_EQ(Button->ButtonState(), zv::bsDisabledLatched);
    EXPECT_EQ(Shot(), Expected(3));
    Button->setEnabled(true);
    Button->SetAllowAllUp(true);
    Button->SetPressed(false);
    Button->setEnabled(false);
    EXPECT_EQ(Button->ButtonState(), zv::bsDisabled);
    EXPECT_EQ(Shot(), Expected(2));
    Button->setEnabled(true);
    Button->SetGroupIndex(0);

    // Without a pressed face the pressed state shows the up face, and the button still clicks.
    table[4] = { 99, 0 };
    Button->SetFaceTable(table);
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    Press(kOnFace);
    EXPECT_EQ(Shot(), Expected(2));
    Move(kOnFace);
    Release(kOnFace);
    EXPECT_EQ(clicks.count(), 1);

    table[0] = { 99, 0 };
    Button->SetFaceTable(table);
    QImage nothing(25, 25, QImage::Format_RGB32);
    nothing.fill(kBackground);
    EXPECT_EQ(Shot(), nothing);
    EXPECT_TRUE(Button->FaceRect().isEmpty());
    Press(kOnFace);
    EXPECT_EQ(Button->ButtonState(), zv::bsUp) << "no face, nothing to press";
}

TEST_F(ImageButton, HeldButtonRepeatsAfterTheDelayThenAtTheInterval)
{
    VirtualTimers& clock = Clock;
    Button->SetTimerSource(&clock);
    Button->RepeatedClick = true;
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    Move(kOnFace);
    Press(kOnFace);
    EXPECT_EQ(clicks.count(), 1) << "at once";
    clock.Advance(499);
    EXPECT_EQ(clicks.count(), 1);
    clock.Advance(1);
    EXPECT_EQ(clicks.count(), 2) << "after 500 ms";
    clock.Advance(99);
    EXPECT_EQ(clicks.count(), 2);
    clock.Advance(1);
    EXPECT_EQ(clicks.count(), 3) << "then every 100 ms";
    clock.Advance(300);
    EXPECT_EQ(clicks.count(), 6);
    Shot();
    Move({ 0, 0 }); // off the face: no clicks while away
    clock.Advance(300);
    EXPECT_EQ(clicks.count(), 6);
    Move(kOnFace);
    clock.Advance(100);
    EXPECT_EQ(clicks.count(), 7);
    Release(kOnFace);
    EXPECT_EQ(clicks.count(), 7) << "none on the release";
    clock.Advance(1000);
    EXPECT_EQ(clicks.count(), 7);
}

TEST_F(ImageButton, LatchGroupKeepsOneButtonDown)
{
    TSkMMButton* other = MakeButton("BInfo", { 60, 10 });
    TSkMMButton* elsewhere = MakeButton("BOcultar", { 90, 10 });
    Button->SetGroupIndex(1);
    other->SetGroupIndex(1);
    elsewhere->SetGroupIndex(2);
    Shot(other);
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    QSignalSpy otherClicks(other, &TSkMMButton::OnClick);

    Click(Button);
    Click(elsewhere);
    EXPECT_TRUE(Button->Pressed());
    EXPECT_EQ(Button->ButtonState(), zv::bsLatched);
    EXPECT_TRUE(elsewhere->Pressed()) << "another group is not touched";
    Click(other);
    EXPECT_TRUE(other->Pressed());
    EXPECT_FALSE(Button->Pressed());
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
    EXPECT_TRUE(elsewhere->Pressed());
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(otherClicks.count(), 1);

    Click(other); // latched and not AllowAllUp: nothing happens
    EXPECT_TRUE(other->Pressed());
    EXPECT_EQ(otherClicks.count(), 1);

    Button->SetAllowAllUp(true); // the group agrees
    EXPECT_TRUE(other->AllowAllUp());
    QSignalSpy doubles(other, &TSkMMButton::OnDblClick);
    Mouse(other, QEvent::MouseButtonDblClick, kOnFace);
    EXPECT_EQ(doubles.count(), 1) << "a double click on a latched button";
    Mouse(other, QEvent::MouseButtonRelease, kOnFace);
    EXPECT_FALSE(other->Pressed());
    EXPECT_EQ(other->ButtonState(), zv::bsUp);
    EXPECT_EQ(otherClicks.count(), 2);

    TSkMMButton loose(&Host);
    loose.SetPressed(true);
    EXPECT_FALSE(loose.Pressed()) << "latching needs a group";
}

TEST_F(ImageButton, HotStateEndsWhenTheHoverCheckFindsThePointerGone)
{
    VirtualTimers& clock = Clock;
    QPoint cursor = Button->mapToGlobal(kOnFace);
    Button->SetTimerSource(&clock);
    Button->SetCursorSource([&] { return cursor; });
    Button->SetAllowMouseOver(true);
    QSignalSpy entered(Button, &TSkMMButton::OnMouseEnter);
    Move(kOnFace);
    EXPECT_EQ(Button->ButtonState(), zv::bsHot);
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(Shot(), Expected(2)) << "no hot face: the up face";
    clock.Advance(300);
    EXPECT_EQ(Button->ButtonState(), zv::bsHot);
    cursor = Button->mapToGlobal(QPoint(-30, -30));
    clock.Advance(100);
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
}

TEST_F(ImageButton, DestroyedFaceListDetachesFromItsButtons)
{
    auto* list = new TSkBitmapList;
    list->LoadFrom(Form.RequireChild("SkBitmapList2"));
    Button->SetButtonFaceImageList(list);
    EXPECT_EQ(Shot(), Expected(2));
    delete list;
    EXPECT_EQ(Button->ButtonFaceImageList(), nullptr);
    QImage nothing(25, 25, QImage::Format_RGB32);
    nothing.fill(kBackground);
    EXPECT_EQ(Shot(), nothing);
    Press(kOnFace);
    EXPECT_EQ(Button->ButtonState(), zv::bsUp);
}

TEST_F(ImageButton, DropDownMenuOpensBelowThePressAndNoClickFollows)
{
    QMenu menu;
    menu.addAction("item");
    Button->DropDownMenu = &menu;
    Button->DropDownIndent = 3;
    QSignalSpy clicks(Button, &TSkMMButton::OnClick);
    QSignalSpy dropped(Button, &TSkMMButton::OnDropDown);
    int stateWhileOpen = -1;
    QPoint openedAt;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] {
        stateWhileOpen = Button->ButtonState();
        QTimer::singleShot(0, &menu, [&] {
            openedAt = menu.pos();
            menu.close();
        });
    });
    Press(kOnFace);
    EXPECT_EQ(dropped.count(), 1);
    EXPECT_EQ(stateWhileOpen, zv::bsMenuOpen);
    EXPECT_EQ(openedAt, Button->mapToGlobal(QPoint(3, 25)))
        << "at the bottom-left corner, moved by the indent";
    EXPECT_EQ(Button->ButtonState(), zv::bsUp) << "back to the state before the press";
    Release(kOnFace);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ImageButton, EveryProgramButtonLoadsItsFaces)
{
    const zv::SkStoredObject config = zv::LoadWindowData(":/forms/Frm_Config.dat");
    const std::pair<const char*, int> main[] = { { "BMinimizar", 0 }, { "BConfig", 2 }, { "BOcultar", 4 },
        { "BFechar", 6 }, { "BEqualizer", 8 }, { "BInfo", 10 } };
    for (const auto& [name, up] : main) {
        TSkMMButton* b = MakeButton(name, { 60, 20 });
        EXPECT_EQ(Shot(b), Expected(up)) << name;
        EXPECT_EQ(b->HitColor(), kNavy);
        delete b;
    }
    for (const char* name : { "SkMMButton1", "SkMMButton2", "SkMMButton3", "BFechar" }) {
        TSkMMButton b(&Host);
        zv::SetUpProgramButton(&b, &Faces, config.RequireChild(name));
        EXPECT_EQ(b.FaceTable()[0].ListIndex >= 12, true) << name;
    }
}
