// A picture of the mixer widgets on the synthetic device's in-memory mixer, as the settings window
// arranges them: the built-in knob, the recording and return knobs with their own pictures and tick
// rings, the recording-source box and the return mute box. Saved under build/screenshots; the copy
// in docs/ comes from here.

#include "audio/MMMixCtl.h"
#include "audio/MMWheel.h"
#include "displays/MMColors.h"
#include "platform/Mixer.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QImage SourcePicture(const char* relative)
{
    return QImage(
        qEnvironmentVariable("ZOVEVA_SOURCE_DIR") + QStringLiteral("/resources/") + QLatin1String(relative));
}

// The settings window's knob: 52 x 52 around its own picture, a white ring of 11 ticks.
void SetUpSettingsKnob(TMMMixerWheel& knob, const QImage& picture)
{
    knob.BeginLoading();
    knob.SetColor(clBlack);
    knob.SetBackBmp(picture);
    knob.SetRadius(11);
    knob.SetHandleSize(5);
    knob.SetHandleMargin(5);
    knob.SetFrameSpace(0);
    knob.Bevel().SetBevelOuter(bvNone);
    TMMScale& s = knob.Scale();
    s.SetVisible(true);
    s.SetColor(clWhite);
    s.SetStyle(stColor);
    s.SetTickCount(11);
    s.SetEnlargeEvery(5);
    s.SetSize(7);
    s.SetOrigin(soInner);
    s.SetConnect(false);
    knob.EndLoading();
}

// How far apart two colours are, channel by channel.
int Distance(QRgb a, QRgb b)
{
    return std::max(
        { std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)) });
}

} // namespace

TEST(Screenshots, MixerWidgetsOnTheSyntheticMixer)
{
    auto ops = zv::MakeMemoryMixer({ zv::SyntheticMixerTable("Synthetic tone 1 kHz") });
    TMMMixerDevice device(nullptr, ops.get());
    TMMAudioLine recording, recSource, lineIn;
    recording.SetMixer(&device);
    recording.SetComponentType(ctDstWaveIn);
    recSource.SetMixer(&device);
    recSource.SetDestLine(&recording);
    recSource.SetComponentType(ctSrcLine);
    lineIn.SetMixer(&device);
    lineIn.SetComponentType(ctSrcLine);
    TMMMixerControl selector, mute;
    selector.SetAudioLine(&recording);
    selector.SetControlType(ctMux);
    mute.SetAudioLine(&lineIn);
    mute.SetControlType(ctMute);
    TMMVolumeControl recVolume, volume;
    recVolume.SetAudioLine(&recSource);
    volume.SetAudioLine(&lineIn);
    device.SetActive(true);
    ASSERT_TRUE(recVolume.IsValid() && volume.IsValid() && selector.IsValid() && mute.IsValid());

    QWidget window;
    // The settings window's black opening.
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.resize(300, 150);
    auto* builtIn = new TMMMixerWheel(&window);
    builtIn->SetColor(clBlack);
    builtIn->SetControl(&volume);
    builtIn->move(10, 10);
    auto* rec = new TMMMixerWheel(&window);
    SetUpSettingsKnob(*rec, SourcePicture("knobs/recording.png"));
    rec->SetControl(&recVolume);
    rec->move(130, 14);
    auto* ret = new TMMMixerWheel(&window);
    SetUpSettingsKnob(*ret, SourcePicture("knobs/return.png"));
    ret->SetControl(&volume);
    ret->move(210, 14);
    for (auto [text, x] : { std::pair { "Gravação", 126 }, { "Retorno", 210 } }) {
        auto* label = new QLabel(QString::fromUtf8(text), &window);
        label->move(x, 70);
    }
    auto* source = new TMMMixerCheckBox(&window);
    source->SetControl(&selector);
    source->SetItemLine(&recSource);
    source->move(126, 96);
    auto* back = new TMMMixerCheckBox(&window);
    back->SetAutoCaption(false);
    back->setText(QStringLiteral("Desativar retorno"));
    back->SetControl(&mute);
    back->move(126, 120);
    builtIn->SetValue(builtIn->Maximum() * 3 / 4);
    rec->SetValue(rec->Maximum() / 2);
    window.show();
    QApplication::processEvents();

    const QImage shot
        = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QString dir = QStringLiteral(ZOVEVA_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(dir + QStringLiteral("/mixer-widgets.png")));

    // What the picture must show: each knob's handle where its value puts it, in the handle colour
    // (the focused knob's own); the recording source ticked with its name.
    for (TMMMixerWheel* knob : { builtIn, rec, ret }) {
        const QPoint at = knob->mapTo(&window, knob->HandleCentre());
        const TColor colour = knob->hasFocus() ? knob->FocusedColor() : knob->HandleColor();
        EXPECT_LE(Distance(shot.pixel(at), zv::ColorToQColor(colour).rgb()), 24)
            << "no handle at " << at.x() << "," << at.y();
    }
    EXPECT_TRUE(source->isChecked());
    EXPECT_TRUE(source->isEnabled());
    EXPECT_EQ(source->text(), QStringLiteral("Line In"));
    EXPECT_FALSE(back->isChecked());
}
