#include "displays/MMControl.h"
#include "displays/MMTimer.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

// A display that fills its canvas with one colour and counts how it was painted.
class Probe : public TMMDIBGraphicControl {
public:
    using TMMDIBGraphicControl::TMMDIBGraphicControl;
    void DrawFrame()
    {
        TMMDIBDrawScope scope(DIB());
        DIB().SetDrawColor(fill);
        DIB().Clear();
        ++frames;
    }
    void Show(QPainter& device)
    {
        TMMDIBDrawScope scope(DIB());
        DIB().CopyToDevice(device, GetInnerRect(), GetInnerRect().x(), GetInnerRect().y());
    }
    bool Update(TDirectCopy copy = TDirectCopy::Coalesced)
    {
        return PaintDirect([this] { DrawFrame(); }, copy);
    }
    void CopyFrame(QPainter& device) override
    {
        Show(device);
        ++copies;
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
        DrawFrame();
        Show(canvas);
    }
    TColor fill = clRed;
    int frames = 0;
    int copies = 0; // data frames copied to the window
    int fullPaints = 0;
    int layouts = 0;
};

std::int64_t gNow = 0;
std::int64_t FakeNow()
{
    return gNow;
}

// A probe with a 2-pixel frame band in a shown window, on the test's own refresh clock.
class DirectPaint : public ::testing::Test {
protected:
    void SetUp() override
    {
        TMMGraphicControl::SetClock(&FakeNow);
        gNow = 1'000'000;
        window.resize(60, 40);
        probe = new Probe(&window);
        probe->setGeometry(5, 5, 30, 20);
        probe->Bevel().SetBevelOuter(bvNone);
        probe->Bevel().SetBorderWidth(2);
    }
    void TearDown() override { TMMGraphicControl::SetClock(nullptr); }
    void Show()
    {
        window.show();
        QApplication::processEvents();
    }
    // What the window shows now (not a fresh repaint).
    QRgb Shown() { return window.screen()->grabWindow(window.winId()).toImage().pixel(5 + 10, 5 + 10); }
    // Runs the event loop until the probe's waiting frame was copied.
    bool WaitForCopy()
    {
        return zv::test::PumpUntil([&] { return !probe->DirectCopyPending(); });
    }

    QWidget window;
    Probe* probe = nullptr;
};

TEST_F(DirectPaint, ReachesTheWindowOnlyWhenVisible)
{
    EXPECT_EQ(probe->GetInnerRect(), QRect(2, 2, 26, 16));
    EXPECT_FALSE(probe->Update()) << "not shown yet";
    EXPECT_EQ(probe->frames, 0);

    Show();
    EXPECT_EQ(probe->DIB().Width(), 30);
    EXPECT_EQ(probe->DIB().Height(), 20);
    const int fullPaints = probe->fullPaints;
    probe->fill = clLime;
    ASSERT_TRUE(probe->Update());
    ASSERT_TRUE(WaitForCopy());
    EXPECT_EQ(probe->copies, 1);
    EXPECT_EQ(probe->fullPaints, fullPaints) << "a direct update paints only the interior";
    EXPECT_EQ(Shown(), qRgb(0, 255, 0));
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    EXPECT_EQ(shot.pixel(5, 5), qRgb(192, 192, 192)) << "the frame band stays";

    probe->hide();
    EXPECT_FALSE(probe->Update());
}

TEST_F(DirectPaint, FramesOfOneRefreshShareOneCopyThatShowsTheLast)
{
    Show();
    probe->fill = clLime;
    probe->Update();
    ASSERT_TRUE(WaitForCopy());
    ASSERT_EQ(Shown(), qRgb(0, 255, 0));

    // Two more frames in the same refresh: both drawn, neither copied yet.
    probe->fill = clRed;
    probe->Update();
    probe->fill = clYellow;
    probe->Update();
    EXPECT_EQ(probe->frames, probe->fullPaints + 3);
    QApplication::processEvents();
    EXPECT_EQ(probe->copies, 1);
    EXPECT_TRUE(probe->DirectCopyPending());

    // The next refresh brings the last frame without any further data.
    gNow += TMMGraphicControl::kDirectCopyInterval * 1000;
    ASSERT_TRUE(WaitForCopy());
    EXPECT_EQ(probe->copies, 2);
    EXPECT_EQ(Shown(), qRgb(255, 255, 0));

    // Clearing does not wait for the next refresh.
    probe->fill = clBlue;
    ASSERT_TRUE(probe->Update(TMMGraphicControl::TDirectCopy::Now));
    EXPECT_EQ(probe->copies, 3);
    EXPECT_EQ(Shown(), qRgb(0, 0, 255));
    EXPECT_FALSE(probe->DirectCopyPending());
}

TEST_F(DirectPaint, AWaitingFrameOfAHiddenOrDestroyedControlIsDropped)
{
    Show();
    probe->Update();
    ASSERT_TRUE(WaitForCopy());
    probe->Update();
    ASSERT_TRUE(probe->DirectCopyPending());
    probe->hide();
    gNow += TMMGraphicControl::kDirectCopyInterval * 1000;
    EXPECT_TRUE(WaitForCopy());
    EXPECT_EQ(probe->copies, 1);

    probe->show();
    QApplication::processEvents();
    gNow += TMMGraphicControl::kDirectCopyInterval * 1000;
    probe->Update();
    ASSERT_TRUE(WaitForCopy());
    probe->Update();
    ASSERT_TRUE(probe->DirectCopyPending());
    delete probe;
    probe = nullptr;
    gNow += TMMGraphicControl::kDirectCopyInterval * 1000;
    zv::test::Pump(std::chrono::milliseconds(40)); // the copy timer fires and finds nobody
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
