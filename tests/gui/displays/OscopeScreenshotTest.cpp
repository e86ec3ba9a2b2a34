// Pictures of the oscilloscope in its five styles and in scroll mode, fed a tone mix, saved under
// build/screenshots; the copies in docs/ come from here.

#include "displays/MMOscope.h"
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
constexpr QRgb kRed = 0xFFFF0000u;
constexpr QRgb kBlack = 0xFF000000u;

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
    // The window's current pixels, without a repaint (a repaint would restart the scrolling chart).
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    QDir().mkpath(ScreenshotDir());
    const QString path = ScreenshotDir() + QLatin1Char('/') + name;
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    return shot;
}

// 16-bit stereo at 44100 Hz: 441 Hz with its third harmonic and a 2.5 kHz whistle, under a slow
// swell so that the scrolling chart shows an envelope.
std::vector<std::int16_t> Signal(int frames)
{
    std::vector<std::int16_t> data(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double swell = 0.55 + 0.45 * std::sin(2 * M_PI * 1.5 * t);
        const double v = swell
            * (16000 * std::sin(2 * M_PI * 441 * t) + 6000 * std::sin(2 * M_PI * 1323 * t + 0.7)
                + 5000 * std::sin(2 * M_PI * 2500 * t));
        data[std::size_t(2 * i)] = data[std::size_t(2 * i + 1)]
            = std::int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
    return data;
}

TEST(Screenshots, OscilloscopeAsTheMainWindowShowsIt)
{
    QWidget window;
    window.resize(170, 56);
    auto* s = new TMMOscope(&window);
    zv::SetUpMainOscope(*s);
    window.show();
    QApplication::processEvents();
    const auto signal = Signal(4096);
    s->ProcessData(signal.data() + 2 * 1000);
    const QImage shot = Save(window, QStringLiteral("oscilloscope-main-window.png"));

    // A lime trace from edge to edge that swings with the signal, on black.
    const QRect plot = InPicture(*s, window, s->DrawRect(), shot);
    const Ink trace = InkOf(shot, plot, kLime);
    EXPECT_GE(trace.columns, plot.width() - 2);
    EXPECT_GE(trace.bounds.height(), plot.height() / 4);
    EXPECT_GE(InkOf(shot, plot, kBlack).pixels, plot.width() * plot.height() * 8 / 10);
}

TEST(Screenshots, OscilloscopeStylesAndScrollMode)
{
    QWidget window;
    window.setStyleSheet(QStringLiteral("QWidget { background: #c0c0c0 } QLabel { font: 11px; }"));
    const int w = 330, h = 150, labelH = 16;
    const struct {
        TMMOscopeKind kind;
        TMMOscopeEffect effect;
        bool scroll;
        const char* name;
    } styles[] = { { okDots, efNone, false, "okDots" }, { okCzoVevas, efNone, false, "okCzoVevas" },
        { okVertLines, efPeak, false, "okVertLines, efPeak" },
        { okMirLines, efSplit, false, "okMirLines, efSplit" }, { okSpikes, efNone, false, "okSpikes" },
        { okCzoVevas, efNone, true, "okCzoVevas, Scroll" } };
    window.resize(2 * (w + 8) + 8, 3 * (h + labelH + 8) + 8);
    TWaveFormatEx format {};
    MakePCMFormat(format, 16, 2, 44100);
    std::vector<TMMOscope*> scopes;
    int index = 0;
    for (const auto& style : styles) {
        const int x = 8 + (index % 2) * (w + 8), y = 8 + (index / 2) * (h + labelH + 8);
        auto* label = new QLabel(QString::fromLatin1(style.name), &window);
        label->setGeometry(x, y, w, labelH);
        auto* s = new TMMOscope(&window);
        s->SetDrawAmpScale(true);
        s->SetDrawTimeScale(true);
        s->setGeometry(x, y + labelH, w, h);
        s->SetPCMFormat(&format);
        s->SetKind(style.kind);
        s->SetEffect(style.effect);
        s->SetForegroundColor(clLime);
        s->SetDrawGrid(true);
        s->SetDrawMidLine(!style.scroll);
        s->SetScroll(style.scroll);
        s->SetFFTLength(512);
        s->SetZoom(style.kind == okSpikes ? -1 : 2);
        scopes.push_back(s);
        ++index;
    }
    window.show();
    QApplication::processEvents();
    const auto signal = Signal(44100 * 2);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(signal.data());
    const int total = int(signal.size() * sizeof(std::int16_t));
    for (TMMOscope* s : scopes) {
        const int step = s->ScrollStep() > 0 ? s->ScrollStep() : s->BytesNeeded();
        if (s->Scroll()) {
            for (int at = 0; at + s->BytesNeeded() <= total; at += step)
                s->ProcessData(bytes + at);
        } else {
            s->ProcessData(bytes + 4 * 2000);
        }
    }
    const QImage shot = Save(window, QStringLiteral("oscilloscope-styles.png"));

    // Each style draws its lime trace across its whole plot, swinging with the signal (the scrolling
    // chart shows its swell); the effect colour shows only where an effect was asked for.
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        const TMMOscope* s = scopes[i];
        const QRect plot = InPicture(*s, window, s->DrawRect(), shot);
        const Ink trace = InkOf(shot, plot, kLime);
        EXPECT_GE(trace.columns, plot.width() * 9 / 10) << styles[i].name;
        EXPECT_GE(trace.bounds.height(), (styles[i].scroll ? plot.height() / 2 : plot.height() / 5))
            << styles[i].name;
        EXPECT_EQ(InkOf(shot, plot, kRed).pixels > 0, styles[i].effect != efNone) << styles[i].name;
    }
}

} // namespace
