#include "skin/SkShapedForm.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);

QImage Picture(int w, int h, const QRect& opaque, QRgb colour = qRgb(60, 60, 60))
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kNavy);
    for (int y = opaque.top(); y <= opaque.bottom(); ++y)
        for (int x = opaque.left(); x <= opaque.right(); ++x)
            img.setPixel(x, y, colour);
    return img;
}

bool SameArea(const QRegion& a, const QRegion& b)
{
    return a.subtracted(b).isEmpty() && b.subtracted(a).isEmpty();
}

bool Frameless(const QWidget& w)
{
    return w.windowFlags().testFlag(Qt::FramelessWindowHint);
}

void Send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons held)
{
    const QPoint global = w->mapToGlobal(local);
    QMouseEvent e(
        type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Counts the moves it hands to the window system instead of starting them.
class CountingSkin : public TSkShapedForm {
public:
    using TSkShapedForm::TSkShapedForm;
    int Moves = 0;

protected:
    bool StartSystemMove() override
    {
        ++Moves;
        return true;
    }
};

} // namespace

TEST(TSkShapedForm, ActiveCutsTheWindowToThePictureOffsetByItsPlaceAndRestoresIt)
{
    QWidget form;
    form.resize(60, 40);
    QWidget panel(&form);
    panel.move(2, 2);
    panel.resize(50, 30);
    TSkShapedForm skin(&form, &panel);
    skin.move(1, 0);
    skin.SetPicture(Picture(20, 12, QRect(2, 3, 5, 4)));
    EXPECT_EQ(skin.size(), QSize(20, 12)) << "AutoSize takes the picture's size";

    skin.SetActive(true);
    EXPECT_TRUE(Frameless(form));
    EXPECT_EQ(skin.ShapeRectCount(), 4);
    // The offset is the skin's place plus its parents' up to the window: (3, 2).
    EXPECT_TRUE(SameArea(form.mask(), QRegion(5, 5, 5, 4)));

    skin.SetActive(false);
    EXPECT_FALSE(Frameless(form));
    EXPECT_TRUE(form.mask().isEmpty());
}

// Some window systems take the mask for input only: the window is see-through exactly where the mask
// cuts it (holes and the margins around the skin), and the skin keeps its colours inside.
TEST(TSkShapedForm, WindowIsSeeThroughWhereTheMaskCutsItAndOpaqueAgainWithoutTheShape)
{
    QWidget form;
    form.resize(30, 20);
    TSkShapedForm skin(&form);
    skin.move(3, 2);
    constexpr QRgb grey = qRgb(60, 60, 60);
    QImage picture = Picture(20, 12, QRect(2, 3, 6, 4), grey);
    picture.setPixel(4, 4, kNavy); // a hole
    skin.SetPicture(picture);
    skin.SetActive(true);
    form.show();
    ASSERT_NE(form.windowHandle(), nullptr);
    EXPECT_TRUE(form.windowHandle()->requestedFormat().hasAlpha());

    const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), form.size());
    const QRegion mask = form.mask();
    ASSERT_FALSE(mask.contains(QPoint(3 + 4, 2 + 4)));
    int opaque = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb c = shown.pixel(x, y);
            if (mask.contains(QPoint(x, y))) {
                EXPECT_EQ(c, grey) << x << "," << y;
                ++opaque;
            } else {
                EXPECT_EQ(qAlpha(c), 0) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(opaque, 6 * 4 - 1);

    // Without the shape, or with a picture that gives none, the window is a plain rectangle again.
    for (const bool active : { false, true }) {
        SCOPED_TRACE(active ? "picture of the see-through colour only" : "Active false");
        if (active) {
            skin.SetPicture(Picture(20, 12, QRect()));
        }
        skin.SetActive(active);
        EXPECT_FALSE(form.testAttribute(Qt::WA_TranslucentBackground));
        EXPECT_FALSE(form.testAttribute(Qt::WA_NoSystemBackground));
        const QImage plain = form.grab().toImage();
        EXPECT_EQ(qAlpha(plain.pixel(0, 0)), 255);
        EXPECT_EQ(qAlpha(plain.pixel(29, 19)), 255);
    }
}

TEST(TSkShapedForm, ActiveTwiceThenFalseLeavesNoFrame)
{
    QWidget form;
    TSkShapedForm skin(&form);
    skin.SetPicture(Picture(10, 10, QRect(1, 1, 8, 8)));
    skin.SetActive(true);
    skin.SetActive(true); // saves the frameless style as the one to restore
    skin.SetActive(false);
    EXPECT_TRUE(Frameless(form));
    EXPECT_TRUE(form.mask().isEmpty());
}

TEST(TSkShapedForm, AllTransparentPictureKeepsTheRectangleWithoutFrameAndEmptyOneChangesNothing)
{
    QWidget form;
    TSkShapedForm skin(&form);
    skin.SetActive(true);
    EXPECT_FALSE(Frameless(form)) << "no picture: only the frame style is saved";
    skin.SetPicture(Picture(10, 10, QRect()));
    skin.SetActive(true);
    EXPECT_TRUE(Frameless(form));
    EXPECT_TRUE(form.mask().isEmpty());
    EXPECT_EQ(skin.ShapeRectCount(), 0);
}

TEST(TSkShapedForm, BelongsToAWindowOnly)
{
    QWidget form;
    QWidget child(&form);
    QWidget stranger;
    EXPECT_THROW(TSkShapedForm { &child }, ESkShapedFormError);
    EXPECT_THROW((TSkShapedForm { &form, &stranger }), ESkShapedFormError);
    EXPECT_THROW(TSkShapedForm { nullptr }, ESkShapedFormError);
}

TEST(TSkShapedForm, PressMovesTheWindowOnCaptionColourOrAnywhere)
{
    QWidget form;
    // Black block on grey: the caption colour is black.
    QImage img = Picture(20, 20, QRect(0, 0, 20, 20), qRgb(90, 90, 90));
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 18; ++x)
            img.setPixel(x, y, qRgb(0, 0, 0));
    CountingSkin skin(&form);
    skin.SetPicture(img);
    Send(&skin, QEvent::MouseButtonPress, { 5, 3 }, Qt::LeftButton);
    EXPECT_EQ(skin.Moves, 0) << "not Active: no move";
    skin.SetActive(true);
    skin.AlwaysMove = false;
    struct Case {
        QPoint At;
        int Moves;
    };
    for (const Case& c :
        { Case { { 5, 3 }, 1 }, Case { { 5, 10 }, 0 }, Case { { 17, 5 }, 1 }, Case { { 18, 5 }, 0 } }) {
        skin.Moves = 0;
        Send(&skin, QEvent::MouseButtonPress, c.At, Qt::LeftButton);
        EXPECT_EQ(skin.Moves, c.Moves) << c.At.x() << "," << c.At.y();
    }
    skin.AlwaysMove = true;
    skin.Moves = 0;
    Send(&skin, QEvent::MouseButtonPress, { 5, 10 }, Qt::LeftButton);
    EXPECT_EQ(skin.Moves, 1);
}

TEST(TSkShapedForm, WithoutSystemMoveTheSkinDragsTheWindowItself)
{
    // The offscreen platform has no interactive move: the skin's own drag takes over.
    QWidget form;
    TSkShapedForm skin(&form);
    skin.SetPicture(Picture(40, 40, QRect(0, 0, 40, 40), qRgb(90, 90, 90)));
    skin.SetActive(true);
    form.move(100, 100);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QPoint start = form.pos();
    Send(&skin, QEvent::MouseButtonPress, { 10, 10 }, Qt::LeftButton);
    // The pointer moves 30 right and 20 down in screen coordinates.
    const QPoint global = skin.mapToGlobal(QPoint(10, 10)) + QPoint(30, 20);
    QMouseEvent move(
        QEvent::MouseMove, skin.mapFromGlobal(global), global, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&skin, &move);
    EXPECT_EQ(form.pos(), start + QPoint(30, 20));
    Send(&skin, QEvent::MouseButtonRelease, skin.mapFromGlobal(global), Qt::NoButton);
    QMouseEvent after(QEvent::MouseMove, { 0, 0 }, skin.mapToGlobal(QPoint(0, 0)) + QPoint(50, 50),
        Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&skin, &after);
    EXPECT_EQ(form.pos(), start + QPoint(30, 20)) << "the drag ends with the release";
}
