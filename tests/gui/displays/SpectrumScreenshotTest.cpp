// Pictures of the spectrum analyser in every style, fed a tone mix with a rising chirp, saved under
// build/screenshots; the copies in docs/ come from here.

#include "displays/MMSpectr.h"
#include "displays/MMTimer.h"
#include "displays/MainDisplays.h"
#include "tests/gui/displays/PictureInk.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

using zv::test::Ink;
using zv::test::InkOf;
using zv::test::InPicture;

constexpr QRgb kLime = 0xFF00FF00u;
constexpr QRgb kYellow = 0xFFFFFF00u;
constexpr QRgb kGreen = 0xFF008000u;

// The frequency at column x of a plot that spans 0 to 22050 Hz.
double Hertz(const QRect& plot, int x)
{
    return 22050.0 * (x - plot.left() + 0.5) / plot.width();
}

QString ScreenshotDir()
{
#ifdef ZOVEVA_SCREENSHOT_DIR
    return QStringLiteral(ZOVEVA_SCREENSHOT_DIR);
#else
    return qEnvironmentVariable(
        "ZOVEVA_SCREENSHOT_DIR", QDir::currentPath() + QStringLiteral("/screenshots"));
#endif
}

QImage Save(QWidget& window, const QString& name)
{
    QApplication::processEvents();
    // The window's current pixels, without a repaint (a repaint would restart the scrolling style).
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    QDir().mkpath(ScreenshotDir());
    const QString path = ScreenshotDir() + QLatin1Char('/') + name;
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    return shot;
}

// 16-bit stereo at 44100 Hz: steady tones at 440 Hz (with harmonics) and 6 kHz, and a chirp that
// rises from 300 Hz to 16 kHz over the whole signal.
std::vector<std::int16_t> Signal(int frames, double gain = 1.0)
{
    std::vector<std::int16_t> data(std::size_t(frames) * 2);
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / frames;
        const double hz = 300.0 * std::pow(16000.0 / 300.0, t);
        phase += 2 * M_PI * hz / 44100.0;
        const double x = i / 44100.0;
        double v = 6000 * std::sin(phase) + 4000 * std::sin(2 * M_PI * 440 * x)
            + 1500 * std::sin(2 * M_PI * 880 * x) + 700 * std::sin(2 * M_PI * 1320 * x)
            + 2500 * std::sin(2 * M_PI * 6000 * x);
        const auto s = std::int16_t(std::lround(v * gain));
        data[std::size_t(2 * i)] = data[std::size_t(2 * i + 1)] = s;
    }
    return data;
}

// Block after block, with a display timer tick for every 25 ms of sound, as in real time.
void Feed(const std::vector<TMMSpectrum*>& displays, const std::vector<std::int16_t>& signal)
{
    const int step = displays.front()->BytesNeeded();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(signal.data());
    const int total = int(signal.size() * sizeof(std::int16_t));
    const int tickBytes = 44100 * 4 / 40;
    int nextTick = tickBytes;
    for (int at = 0; at + step <= total; at += step) {
        for (TMMSpectrum* d : displays)
            d->ProcessData(bytes + at);
        for (; nextTick <= at + step; nextTick += tickBytes)
            zv::DisplayTimerService::Instance().Tick();
    }
}

TEST(Screenshots, SpectrumAsTheMainWindowShowsIt)
{
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.resize(170, 56);
    auto* s = new TMMSpectrum(&window);
    zv::SetUpMainSpectrum(*s);
    window.show();
    QApplication::processEvents();
    const auto signal = Signal(44100 / 4, 0.3);
    Feed({ s }, signal);
    const QImage shot = Save(window, QStringLiteral("spectrum-main-window.png"));

    // Lime bars up to the chirp's top frequency and no further, with the yellow peak marks above
    // them.
    const QRect plot = InPicture(*s, window, s->DrawRect(), shot);
    const Ink bars = InkOf(shot, plot, kLime);
    const Ink peaks = InkOf(shot, plot, kYellow);
    EXPECT_GE(bars.columns, plot.width() / 2);
    EXPECT_NEAR(Hertz(plot, bars.bounds.right()), 16000, 3500);
    ASSERT_GT(peaks.pixels, 0);
    EXPECT_LE(peaks.bounds.top(), bars.bounds.top());
}

TEST(Screenshots, SpectrumStylesWithScalesAndGrid)
{
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.setStyleSheet(QStringLiteral("QWidget { background: #c0c0c0 } QLabel { font: 11px; }"));
    const int w = 330, h = 150, labelH = 16;
    const struct {
        TMMSpectrumKind kind;
        const char* name;
    } styles[] = { { skBars, "skBars" }, { skPeaks, "skPeaks" }, { skDots, "skDots" }, { skLines, "skLines" },
        { skVLines, "skVLines" }, { skScroll, "skScroll" } };
    window.resize(2 * (w + 8) + 8, 3 * (h + labelH + 8) + 8);
    TWaveFormatEx format {};
    MakePCMFormat(format, 16, 2, 44100);
    std::vector<TMMSpectrum*> displays;
    int index = 0;
    for (const auto& style : styles) {
        const int x = 8 + (index % 2) * (w + 8), y = 8 + (index / 2) * (h + labelH + 8);
        auto* label = new QLabel(QString::fromLatin1(style.name), &window);
        label->setGeometry(x, y, w, labelH);
        auto* s = new TMMSpectrum(&window);
        s->SetDrawAmpScale(true);
        s->SetDrawFreqScale(true);
        s->setGeometry(x, y + labelH, w, h);
        s->SetPCMFormat(&format);
        s->SetFFTLength(512);
        s->SetKind(style.kind);
        s->SetGain(sg3db);
        s->SetDecayMode(dmExponential);
        s->SetDecay(3);
        s->SetVerticalScale(20);
        s->SetBar1Color(clLime);
        s->SetBar2Color(clYellow);
        s->SetBar3Color(clRed);
        s->SetInactive1Color(clGreen);
        s->SetInactive2Color(clOlive);
        s->SetInactive3Color(clMaroon);
        s->SetInactiveDoted(true);
        s->SetSpotHeight(2);
        s->SetDrawGrid(true);
        s->SetDisplayPeak(true);
        s->SetNumPeaks(2);
        displays.push_back(s);
        ++index;
    }
    window.show();
    QApplication::processEvents();
    Feed(displays, Signal(44100 / 2));
    const QImage shot = Save(window, QStringLiteral("spectrum-styles.png"));

    // Every style shows the signal in lime across its plot; the bar styles light nothing above the
    // chirp's top frequency and show their unlit segments dotted in green; the styles that draw
    // peaks mark them in yellow (away from the info text, whose size depends on the font).
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const TMMSpectrum* s = displays[i];
        const QRect plot = InPicture(*s, window, s->DrawRect(), shot);
        const Ink lit = InkOf(shot, plot, kLime);
        EXPECT_GE(lit.columns, plot.width() / 2) << styles[i].name;
        const bool bars = styles[i].kind == skBars || styles[i].kind == skPeaks;
        if (bars) {
            EXPECT_NEAR(Hertz(plot, lit.bounds.right()), 16000, 2000) << styles[i].name;
        }
        EXPECT_EQ(InkOf(shot, plot, kGreen).pixels > 0, bars) << styles[i].name;
        if (bars || styles[i].kind == skLines || styles[i].kind == skScroll) {
            EXPECT_GT(InkOf(shot, plot, kYellow).pixels, 20) << styles[i].name;
        }
    }
}

} // namespace
