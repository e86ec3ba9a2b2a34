#include "displays/MMControl.h"
#include "displays/MMTimer.h"

#include <QApplication>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

// A display that fills its canvas with one colour and counts how it was painted.
class Probe : public TMMDIBGraphicControl {
public:
    using TMMDIBGraphicControl::TMMDIBGraphicControl;
    void Frame(QPainter& device)
    {
        TMMDIBDrawScope scope(DIB());
        DIB().SetDrawColor(fill);
        DIB().Clear();
        DIB().CopyToDevice(device, GetInnerRect(), GetInnerRect().x(), GetInnerRect().y());
        ++frames;
    }
    bool Update()
    {
        return PaintDirect([this](QPainter& device) { Frame(device); });
    }
    void LayoutChanged() override
    {
        ++layouts;
        TMMDIBGraphicControl::LayoutChanged();
    }
    void Paint(QPainter& canvas) override
    {
        TMMDIBGraphicControl::Paint(canvas);
        ++fullPaints;
        Frame(canvas);
    }
    TColor fill = clRed;
    int frames = 0;
    int fullPaints = 0;
    int layouts = 0;
};

TEST(ControlBase, DirectPaintReachesTheWindowOnlyWhenVisible)
{
    QWidget window;
    window.resize(60, 40);
    auto* probe = new Probe(&window);
    probe->setGeometry(5, 5, 30, 20);
    probe->Bevel().SetBevelOuter(bvNone);
    probe->Bevel().SetBorderWidth(2);
    EXPECT_EQ(probe->GetInnerRect(), QRect(2, 2, 26, 16));
    EXPECT_FALSE(probe->Update()) << "not shown yet";

    window.show();
    QApplication::processEvents();
    EXPECT_EQ(probe->DIB().Width(), 30);
    EXPECT_EQ(probe->DIB().Height(), 20);
    const int fullPaints = probe->fullPaints;
    probe->fill = clLime;
    ASSERT_TRUE(probe->Update());
    EXPECT_EQ(probe->fullPaints, fullPaints) << "a direct update paints only the interior";
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixel(5 + 10, 5 + 10), qRgb(0, 255, 0));
    EXPECT_EQ(shot.pixel(5, 5), qRgb(192, 192, 192)) << "the frame band stays";

    probe->hide();
    EXPECT_FALSE(probe->Update());
}

TEST(ControlBase, BevelChangesRunTheLayoutHookOncePerAssign)
{
    Probe probe;
    TMMBevel bevel;
    bevel.SetBevelOuter(bvRaised);
    bevel.SetBevelOuterWidth(3);
    bevel.SetBorderWidth(1);
    probe.SetBevel(bevel);
    EXPECT_EQ(probe.layouts, 1);
    probe.Bevel().SetBorderWidth(1);
    EXPECT_EQ(probe.layouts, 1);
    probe.Bevel().SetBorderWidth(4);
    EXPECT_EQ(probe.layouts, 2);
}

TEST(ControlBase, BackgroundIsUsedOnlyWhenThereIsOne)
{
    Probe probe;
    probe.SetUseBackGroundDIB(true);
    EXPECT_FALSE(probe.UseBackGroundDIB());
    EXPECT_FALSE(probe.PaletteRealize());

    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 255));
    probe.SetBackGroundDIB(picture);
    probe.SetUseBackGroundDIB(true);
    EXPECT_TRUE(probe.UseBackGroundDIB());
    EXPECT_TRUE(probe.PaletteRealize());
    probe.resize(8, 8);
    probe.show(); // a hidden widget hears of its new size only when shown
    {
        TMMDIBDrawScope scope(probe.DIB());
        probe.DrawBackground();
        EXPECT_EQ(probe.DIB().GetPixel(7, 7), 252) << "stretched over the whole canvas";
    }
    probe.SetBackGroundDIB(QImage());
    EXPECT_FALSE(probe.UseBackGroundDIB());
    probe.SetColor(clYellow);
    TMMDIBDrawScope scope(probe.DIB());
    probe.DrawBackground();
    EXPECT_EQ(probe.DIB().GetPixel(7, 7), 251);
}

} // namespace
