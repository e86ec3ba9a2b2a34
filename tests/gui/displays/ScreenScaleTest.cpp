// The displays at the screen's scale. Run at the default scale with the other display tests, and
// again at 150 % and 200 % (QT_SCALE_FACTOR, see CMakeLists.txt). Every check compares by meaning,
// in the screen's device pixels, so the same test holds at every scale: the pictures are drawn at
// the device resolution and reach the screen one canvas pixel per screen pixel.

#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MMOscope.h"
#include "displays/MMSpectr.h"
#include "displays/MMTimer.h"
#include "displays/MainDisplays.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

// 16-bit stereo at 44100 Hz, left and right alike: a 1 kHz tone at -10 dB with a 6 kHz one beside it.
std::vector<std::int16_t> Tone(int frames, int start = 0)
{
    std::vector<std::int16_t> data(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = (start + i) / 44100.0;
        const double s = 10362.0 * std::sin(2 * M_PI * 1000.0 * t) + 2500.0 * std::sin(2 * M_PI * 6000.0 * t);
        data[std::size_t(2 * i)] = data[std::size_t(2 * i + 1)] = std::int16_t(std::lrint(s));
    }
    return data;
}

// The window as the screen shows it, in device pixels.
QImage Shot(QWidget& window)
{
    QApplication::processEvents();
    // Painted afresh into a picture of the window's device pixels (the offscreen screen hands back
    // only its logical size of pixels).
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A widget's rectangle in the window, in device pixels (the window's origin is on a device pixel).
QRect DeviceRect(const QWidget& widget, QRect inWidget, qreal ratio)
{
    const QRectF r(QPointF(widget.mapTo(widget.window(), inWidget.topLeft())), QSizeF(inWidget.size()));
    return QRect(
        qRound(r.x() * ratio), qRound(r.y() * ratio), qRound(r.width() * ratio), qRound(r.height() * ratio));
}

QString ScaleName(qreal ratio)
{
    return QString::number(qRound(ratio * 100));
}

// Runs of columns in [0, width) that hold at least one pixel the predicate accepts.
std::vector<std::pair<int, int>> ColumnRuns(const QImage& image, const std::function<bool(QRgb)>& lit)
{
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < image.width(); ++x) {
        bool any = false;
        for (int y = 0; y < image.height() && !any; ++y)
            any = lit(image.pixel(x, y));
        if (!any)
            continue;
        if (!runs.empty() && runs.back().second == x)
            runs.back().second = x + 1;
        else
            runs.push_back({ x, x + 1 });
    }
    return runs;
}

// How two pictures differ: "" when alike, else their sizes or how many pixels differ.
std::string Difference(const QImage& shown, const QImage& drawn)
{
    if (shown.size() != drawn.size())
        return QStringLiteral("%1x%2 shown, %3x%4 drawn")
            .arg(shown.width())
            .arg(shown.height())
            .arg(drawn.width())
            .arg(drawn.height())
            .toStdString();
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            count += (shown.pixel(x, y) & 0xFFFFFF) != (drawn.pixel(x, y) & 0xFFFFFF);
    return count == 0 ? std::string() : std::to_string(count) + " pixels differ";
}

class ScreenScale : public ::testing::Test {
protected:
    void SetUp() override
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        window.setStyleSheet(QStringLiteral("background: black"));
    }
    qreal Ratio() const { return window.devicePixelRatioF(); }

    QWidget window;
};

TEST_F(ScreenScale, LevelBarsShowBothChannelsAlikeAtTheDeviceResolution)
{
    window.resize(178, 50);
    TMMLevel* bars[2];
    for (int i = 0; i < 2; ++i) {
        bars[i] = new TMMLevel(&window);
        zv::SetUpMainLevel(*bars[i], i == 0 ? chLeft : chRight);
        // 10 and 29: at 150 % one bar starts on a whole device pixel and the other on a half.
        bars[i]->move(11, 10 + 19 * i);
    }
    window.show();
    QApplication::processEvents();
    for (int block = 0; block < 40; ++block) {
        const auto data = Tone(99, block * 99);
        for (TMMLevel* level : bars)
            level->ProcessData(data.data());
    }
    ASSERT_GT(bars[0]->Shown(), 0);
    ASSERT_EQ(bars[0]->Shown(), bars[1]->Shown());
    const QImage shot = Shot(window);
    const qreal r = Ratio();
    QImage crops[2];
    for (int i = 0; i < 2; ++i) {
        const QRect inner = bars[i]->GetInnerRect();
        const QRect onScreen = DeviceRect(*bars[i], inner, r);
        crops[i] = shot.copy(onScreen);
        SCOPED_TRACE(i);
        // The canvas has the device pixels of the bar and reaches the screen unscaled.
        EXPECT_EQ(bars[i]->DIB().Width(), onScreen.width());
        EXPECT_EQ(bars[i]->DIB().Height(), onScreen.height());
        EXPECT_EQ(Difference(crops[i], bars[i]->DIB().ToImage()), "");
    }
    // Same segments lit the same way in both channels, wherever the bar sits on the screen.
    EXPECT_EQ(Difference(crops[0], crops[1]), "");
    QDir().mkpath(QStringLiteral(ZOVEVA_SCREENSHOT_DIR));
    shot.save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/level-bars-%1.png").arg(ScaleName(r)));
}

TEST_F(ScreenScale, NeedleMeterLabelsLieInsideTheFace)
{
    window.resize(190, 67);
    TMMMeter* meters[2];
    for (int i = 0; i < 2; ++i) {
        meters[i] = new TMMMeter(&window);
        zv::SetUpMainMeter(*meters[i], i == 0 ? chLeft : chRight);
        meters[i]->move(5 + 95 * i, 5);
    }
    window.show();
    QApplication::processEvents();
    for (int block = 0; block < 200; ++block) {
        const auto data = Tone(20, block * 20);
        for (TMMMeter* meter : meters)
            meter->ProcessData(data.data());
    }
    const QImage shot = Shot(window);
    const qreal r = Ratio();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        TMMMeter& meter = *meters[i];
        const QRect onScreen = DeviceRect(meter, meter.GetInnerRect(), r);
        EXPECT_EQ(meter.InnerSize(), onScreen.size());
        EXPECT_EQ(Difference(shot.copy(onScreen), meter.WorkBitmap()), "");
        // Every label, the first ("-50") and the last ("0") included, wholly inside the face and
        // drawn there in the label colour (silver).
        const QRect face(QPoint(0, 0), meter.InnerSize());
        ASSERT_GE(meter.LabelRects().size(), 2);
        for (const QRect& label : meter.LabelRects()) {
            EXPECT_TRUE(face.contains(label)) << label.x() << "," << label.y() << " " << label.width();
            const QImage ink = meter.WorkBitmap().copy(label);
            EXPECT_FALSE(ColumnRuns(ink, [](QRgb c) {
                return qRed(c) > 100 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
            }).empty());
        }
    }
    shot.save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/needle-meters-%1.png").arg(ScaleName(r)));
}

TEST_F(ScreenScale, SpectrumBarsAreEvenAtTheDeviceResolution)
{
    window.resize(170, 56);
    auto* s = new TMMSpectrum(&window);
    zv::SetUpMainSpectrum(*s);
    // 32 bins on 128 columns: whole device pixels per bin at 100, 150 and 200 %. The inactive
    // spots shown and solid, so that every bar has pixels in each of its columns.
    s->resize(128, 56);
    s->SetInactive1Color(clGray);
    s->SetInactive2Color(clGray);
    s->SetInactive3Color(clGray);
    s->SetInactiveDoted(false);
    s->SetActiveDoted(false);
    window.show();
    QApplication::processEvents();
    const auto signal = Tone(44100 / 8);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(signal.data());
    for (int at = 0; at + s->BytesNeeded() <= int(signal.size() * 2); at += s->BytesNeeded())
        s->ProcessData(bytes + at);
    const QImage shot = Shot(window);
    const qreal r = Ratio();
    const QRect onScreen = DeviceRect(*s, s->DrawRect(), r);
    const QImage picture = shot.copy(onScreen);
    EXPECT_EQ(Difference(picture, s->DIB().ToImage()), "");
    // Bars (lit or not: the inactive spots are drawn too) and the gaps between them.
    const auto bars = ColumnRuns(picture, [](QRgb c) { return qGray(c) > 60; });
    std::string layout;
    for (const auto& [from, to] : bars)
        layout += std::to_string(from) + "-" + std::to_string(to) + " ";
    SCOPED_TRACE(layout);
    ASSERT_GT(bars.size(), 2u);
    for (std::size_t k = 1; k + 1 < bars.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(bars[k].second - bars[k].first, bars[1].second - bars[1].first);
        EXPECT_EQ(bars[k].first - bars[k - 1].second, bars[1].first - bars[0].second);
    }
    shot.save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/spectrum-%1.png").arg(ScaleName(r)));
}

TEST_F(ScreenScale, OscilloscopeTraceHasNoStepsWiderThanADevicePixel)
{
    window.resize(170, 56);
    auto* s = new TMMOscope(&window);
    zv::SetUpMainOscope(*s);
    window.show();
    QApplication::processEvents();
    const auto signal = Tone(4096);
    s->ProcessData(signal.data() + 2 * 1000);
    const QImage shot = Shot(window);
    const qreal r = Ratio();
    const QRect onScreen = DeviceRect(*s, s->DrawRect(), r);
    const QImage picture = shot.copy(onScreen);
    EXPECT_EQ(Difference(picture, s->DIB().ToImage()), "");
    // The trace: the topmost lime pixel of each column. Every column has one, and where the trace
    // climbs or falls steeply no value is held over two columns.
    std::vector<int> top(std::size_t(picture.width()), -1);
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height() && top[std::size_t(x)] < 0; ++y)
            if (picture.pixel(x, y) == qRgb(0, 255, 0))
                top[std::size_t(x)] = y;
    for (int x = 0; x < picture.width(); ++x)
        ASSERT_GE(top[std::size_t(x)], 0) << "column " << x;
    const auto at = [&](int x) { return top[std::size_t(x)]; };
    int held = 0;
    for (int x = 2; x + 1 < picture.width(); ++x) {
        const int before = at(x - 1) - at(x - 2);
        const int after = at(x + 1) - at(x);
        // Flat between two moves of two pixels or more the same way: a sample drawn twice.
        if (at(x) == at(x - 1) && std::abs(before) >= 2 && std::abs(after) >= 2
            && (before > 0) == (after > 0))
            ++held;
    }
    EXPECT_EQ(held, 0);
    shot.save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/oscilloscope-%1.png").arg(ScaleName(r)));
}

} // namespace
