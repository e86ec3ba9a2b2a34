// Pictures of the level displays fed a 1 kHz tone at -10 dB, saved under build/screenshots; the
// copies in docs/ come from here.

#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MainDisplays.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

// 16-bit stereo frames of a 1 kHz sine at 44100 Hz, 10362 peak (-10 dB), left and right alike.
std::vector<std::int16_t> Tone(int frames, int start)
{
    std::vector<std::int16_t> data(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double s = 10362.0 * std::sin(2.0 * M_PI * 1000.0 * (start + i) / 44100.0);
        data[2 * static_cast<std::size_t>(i)] = data[2 * static_cast<std::size_t>(i) + 1]
            = static_cast<std::int16_t>(std::lrint(s));
    }
    return data;
}

QString Save(QWidget& window, const QString& name)
{
    QApplication::processEvents();
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    const QString dir = QStringLiteral(ZOVEVA_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    return path;
}

TEST(Screenshots, LevelBarPairOnAToneAtMinusTenDecibels)
{
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: black"));
    window.resize(178, 58);
    TMMLevel* bars[2];
    for (int i = 0; i < 2; ++i) {
        auto* level = bars[i] = new TMMLevel(&window);
        zv::SetUpMainLevel(*level, i == 0 ? chLeft : chRight);
        level->move(10, 8 + 22 * i);
    }
    auto* scale = new TMMLevelScale(&window);
    zv::SetUpMainLevelScale(*scale);
    scale->move(10, 48);
    window.show();
    QApplication::processEvents();
    for (int block = 0; block < 40; ++block) {
        const auto data = Tone(99, block * 99);
        for (TMMLevel* level : bars)
            level->ProcessData(data.data());
    }
    EXPECT_EQ(bars[0]->Shown(), 56);
    EXPECT_EQ(bars[1]->Shown(), 56);
    Save(window, QStringLiteral("level-bars.png"));
}

TEST(Screenshots, NeedleMeterPairOnAToneAtMinusTenDecibels)
{
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: black"));
    window.resize(190, 67);
    TMMMeter* meters[2];
    for (int i = 0; i < 2; ++i) {
        auto* meter = meters[i] = new TMMMeter(&window);
        zv::SetUpMainMeter(*meter, i == 0 ? chLeft : chRight);
        meter->move(5 + 95 * i, 5);
    }
    window.show();
    QApplication::processEvents();
    for (int block = 0; block < 200; ++block) {
        const auto data = Tone(20, block * 20);
        for (TMMMeter* meter : meters)
            meter->ProcessData(data.data());
    }
    // The step-up decay holds the needle near the tone's peak: about 80 % of the sweep.
    EXPECT_NEAR(meters[0]->Shown(), 26214, 600);
    Save(window, QStringLiteral("needle-meters.png"));
}

} // namespace
