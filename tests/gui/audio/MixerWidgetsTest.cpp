// The knob, the mixer check box and the device combo box: the knob's geometry and input on its own,
// then each widget bound to the in-memory mixer, both ways.

#include "audio/MMMixCtl.h"
#include "audio/MMWheel.h"
#include "platform/AppError.h"
#include "tests/support/MixerTables.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;

// Where a click at `degrees` (counter-clockwise from the positive x axis) lands, 20 pixels out.
QPoint AtAngle(const QWidget& w, double degrees)
{
    const double a = degrees * M_PI / 180.0;
    return QPoint(w.width() / 2 + int(std::lround(20 * std::cos(a))),
        w.height() / 2 - int(std::lround(20 * std::sin(a))));
}

} // namespace

TEST(Wheel, ClicksTurnTheHandleAndTheGapGoesToItsNearerEdge)
{
    TMMCustomWheel wheel;
    wheel.SetRange(0, 10);
    wheel.show();
    struct Case {
        double degrees;
        int value;
    } cases[] = {
        { 225, 0 }, { 90, 5 }, { 315, 10 }, { 180, 2 }, { 0, 8 },
        { 260, 0 }, // inside the gap, nearer its start
        { 280, 10 }, // inside the gap, nearer its end
    };
    for (const Case& c : cases) {
        wheel.SetValue(c.value == 5 ? 3 : 5);
        QTest::mouseClick(&wheel, Qt::LeftButton, {}, AtAngle(wheel, c.degrees));
        EXPECT_EQ(wheel.Value(), c.value) << c.degrees << " degrees";
    }
    // The handle runs clockwise over 270 degrees from the lower left to the lower right.
    for (auto [value, angle] : { std::pair { 0, 225 }, { 5, 90 }, { 10, 315 }, { 3, 144 } }) {
        wheel.SetValue(value);
        EXPECT_EQ(wheel.HandleAngle(), angle) << value;
    }
    // A click on the centre says nothing about a direction.
    wheel.SetValue(4);
    QTest::mouseClick(&wheel, Qt::LeftButton, {}, QPoint(wheel.width() / 2, wheel.height() / 2));
    EXPECT_EQ(wheel.Value(), 4);
}

TEST(Wheel, KeysAndVerticalDragStepWithinTheRange)
{
    TMMCustomWheel wheel;
    wheel.SetRange(0, 10);
    wheel.SetValue(5);
    int changes = 0;
    wheel.OnChange = [&](QObject*) { ++changes; };
    wheel.show();
    struct Case {
        Qt::Key key;
        int value;
    } cases[] = {
        { Qt::Key_Home, 10 },
        { Qt::Key_Up, 10 },
        { Qt::Key_PageDown, 8 },
        { Qt::Key_Left, 7 },
        { Qt::Key_End, 0 },
        { Qt::Key_Down, 0 },
        { Qt::Key_Right, 1 },
        { Qt::Key_PageUp, 3 },
    };
    for (const Case& c : cases) {
        QTest::keyClick(&wheel, c.key);
        EXPECT_EQ(wheel.Value(), c.value) << QKeySequence(c.key).toString().toStdString();
    }
    EXPECT_EQ(changes, 6); // Up at the top and Down at the bottom change nothing

    // Up and down: ScrollSize pixels for the whole range, from where the button went down.
    wheel.SetUpDown(true);
    wheel.SetValue(2);
    const QPoint start(wheel.width() / 2, wheel.height() - 2);
    QTest::mousePress(&wheel, Qt::LeftButton, {}, start);
    QTest::mouseMove(&wheel, start - QPoint(0, 48)); // 48 of 160 pixels: 3 steps
    EXPECT_EQ(wheel.Value(), 5);
    QTest::mouseRelease(&wheel, Qt::LeftButton, {}, start - QPoint(0, 48));
    EXPECT_EQ(wheel.Value(), 5);

    for (auto set :
        { &TMMCustomWheel::SetScrollSize, &TMMCustomWheel::SetLineStep, &TMMCustomWheel::SetPageStep }) {
        try {
            (wheel.*set)(0);
            ADD_FAILURE() << "0 accepted";
        } catch (const EMMWheelError& e) {
            EXPECT_STREQ(e.what(), "This parameter should be greater then 0");
        }
    }
    EXPECT_EQ(wheel.LineStep(), 1);
}

TEST(Wheel, AutoSizeFollowsThePictureAndTheRing)
{
    TMMCustomWheel wheel;
    const QImage picture = TMMCustomWheel::BuiltInBitmap();
    ASSERT_FALSE(picture.isNull());
    // The settings window's knobs: 32 x 32 pictures inside a 7-pixel ring 3 pixels off, no frame space.
    wheel.SetFrameSpace(0);
    wheel.Scale().SetSize(7);
    wheel.Scale().SetVisible(true);
    QImage own(32, 32, QImage::Format_RGB32);
    own.fill(Qt::darkGray);
    wheel.SetBackBmp(own);
    EXPECT_EQ(wheel.size(), QSize(52, 52));
    wheel.resize(80, 80);
    EXPECT_EQ(wheel.size(), QSize(52, 52));
    wheel.SetBackBmp(QImage());
    EXPECT_EQ(wheel.BackBmp().size(), picture.size());
    EXPECT_EQ(wheel.size(), picture.size() + QSize(20, 20));
    wheel.SetColor(clLime);
    wheel.show();
    (void)wheel.grab(); // the background made at the old size
    wheel.SetAutoSize(false);
    wheel.resize(80, 80);
    EXPECT_EQ(wheel.size(), QSize(80, 80));
    // Drawn anew at the new size: its corner is the knob's colour.
    EXPECT_EQ(wheel.grab().toImage().pixel(76, 76), qRgb(0, 255, 0));
    // Radius 0 is worked out from the size: half of it less margin, frame space and ring.
    EXPECT_EQ(wheel.CurrentRadius(), 40 - 4 - 0 - 0 - 10);
    wheel.SetRadius(11);
    wheel.SetValue(wheel.Minimum()); // 225 degrees
    EXPECT_EQ(wheel.HandleCentre(), QPoint(40 - 8, 40 + 8));
}

// ---- bound to the in-memory mixer ------------------------------------------------------------

namespace {

// A card whose recording sources have a fine volume (65536 steps) and a number without steps (so 32
// of them), besides the studio card's selector and playback mute.
zv::MemoryMixerTable KnobCard()
{
    using namespace zv::mixer;
    zv::MemoryMixerTable t = test::StudioCard();
    zv::MemoryLine& recording = t.destinations[1];
    recording.sources[0].controls = { test::Control(CtlVolume, "Fine", { 32768, 32768 }, 0, 65535, 65536) };
    recording.sources[1].controls = { test::Control(CtlUnsigned, "Coarse", { 50, 50 }, 0, 100) };
    return t;
}

class MixerWidgets : public ::testing::Test {
protected:
    void SetUp() override
    {
        ops = zv::MakeMemoryMixer({ KnobCard(), test::MicCard() }, true);
        device = std::make_unique<TMMMixerDevice>(nullptr, ops.get());
        recording.SetMixer(device.get());
        recording.SetComponentType(ctDstWaveIn);
        recSource.SetMixer(device.get());
        recSource.SetDestLine(&recording);
        recSource.SetComponentType(ctSrcLine);
        lineIn.SetMixer(device.get());
        lineIn.SetComponentType(ctSrcLine);
        selector.SetAudioLine(&recording);
        selector.SetControlType(ctMux);
        mute.SetAudioLine(&lineIn);
        mute.SetControlType(ctMute);
        volume.SetAudioLine(&recSource);
        device->SetActive(true);
    }

    std::vector<std::int32_t> Stored(TMMCustomMixerControl& c)
    {
        std::vector<std::int32_t> v(std::size_t(c.Channels() * std::max(c.Items(), 1)));
        device->GetControlValues(std::uint32_t(c.ControlId()), c.Channels(), c.Items(), v.data());
        return v;
    }

    std::unique_ptr<zv::MemoryMixerOps> ops;
    std::unique_ptr<TMMMixerDevice> device;
    TMMAudioLine recording, recSource, lineIn;
    TMMMixerControl selector, mute;
    TMMVolumeControl volume;
};

} // namespace

TEST_F(MixerWidgets, TheKnobShowsTheControlInItsStepsAndWritesItBack)
{
    TMMMixerWheel knob;
    EXPECT_FALSE(knob.isEnabled());
    knob.SetControl(&volume);
    EXPECT_TRUE(knob.isEnabled());
    // 65536 steps over 0 ... 65535: 32768 is step 32768.5 (rounded to even: 32768.50001 goes up).
    EXPECT_EQ(knob.Maximum(), 65536);
    EXPECT_EQ(knob.Value(), 32769);
    int changes = 0;
    knob.OnChange = [&](QObject*) { ++changes; };
    knob.SetValue(32770);
    knob.SetValue(32769);
    EXPECT_EQ(Stored(volume), (std::vector<std::int32_t> { 32768, 32768 }));
    EXPECT_EQ(changes, 2);
    knob.SetValue(knob.Maximum());
    EXPECT_EQ(Stored(volume), (std::vector<std::int32_t> { 65535, 65535 }));

    // No steps given: 32 of them.
    TMMMixerControl number;
    number.SetAudioLine(&recSource);
    number.SetControlType(ctUnsigned);
    recSource.SetComponentType(ctSrcCD);
    knob.SetControl(&number);
    ASSERT_EQ(number.ControlInfo().Steps, 0u);
    EXPECT_EQ(knob.Maximum(), 32);
    EXPECT_EQ(knob.Step(), 3.125L);
    EXPECT_EQ(knob.Value(), 16); // 50 / 3.125
    knob.SetValue(3);
    EXPECT_EQ(Stored(number), (std::vector<std::int32_t> { 9, 9 })); // 9.375 rounds to 9

    // Another program turns it: the knob follows without calling it a turn of its own.
    changes = 0;
    ASSERT_EQ(ops->SetValuesFromOutside(0, std::uint32_t(number.ControlId()), { 100, 100 }), 0);
    ASSERT_TRUE(zv::test::PumpUntil([&] { return knob.Value() == 32; }));
    EXPECT_EQ(changes, 0);

    // One channel of it: the knob writes that channel alone.
    knob.SetChannel(chLeft);
    knob.SetValue(0);
    EXPECT_EQ(Stored(number), (std::vector<std::int32_t> { 0, 100 }));
}

TEST_F(MixerWidgets, AKnobLosesItsControlWithoutCrashing)
{
    TMMMixerWheel knob;
    // A switch is no knob's control; the binding stays as it was.
    knob.SetControl(&volume);
    try {
        knob.SetControl(&mute);
        ADD_FAILURE() << "a switch was bound";
    } catch (const EMMMixerControlsError& e) {
        EXPECT_STREQ(e.what(), "Invalid control class");
    }
    EXPECT_EQ(knob.Control(), &volume);

    // A source the recording does not have: disabled, shown at 0.
    recSource.SetComponentType(ctSrcMicrophone);
    EXPECT_FALSE(knob.isEnabled());
    EXPECT_EQ(knob.Value(), 0);
    recSource.SetComponentType(ctSrcLine);
    EXPECT_TRUE(knob.isEnabled());

    auto gone = std::make_unique<TMMVolumeControl>();
    gone->SetAudioLine(&recSource);
    knob.SetControl(gone.get());
    gone.reset();
    EXPECT_EQ(knob.Control(), nullptr);
    EXPECT_FALSE(knob.isEnabled());
}

TEST_F(MixerWidgets, TheRecordingSourceBoxSelectsItsSourceAlone)
{
    TMMMixerCheckBox box;
    box.SetControl(&selector);
    box.SetItemLine(&recSource);
    EXPECT_EQ(box.Item(), 0);
    EXPECT_TRUE(box.isEnabled());
    EXPECT_EQ(box.text(), QStringLiteral("Line In"));
    EXPECT_TRUE(box.isChecked());

    // Another source: its name and its state.
    recSource.SetComponentType(ctSrcAux);
    EXPECT_EQ(box.Item(), 2);
    EXPECT_EQ(box.text(), QStringLiteral("Aux"));
    EXPECT_FALSE(box.isChecked());

    // The program ticking it records that source, exactly as a click does.
    int clicks = 0;
    box.OnClick = [&](QObject*) { ++clicks; };
    box.setChecked(true);
    EXPECT_EQ(Stored(selector), (std::vector<std::int32_t> { 0, 0, 0, 0, 1, 1, 0, 0 }));
    EXPECT_EQ(clicks, 1);
    recSource.SetComponentType(ctSrcCD);
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(6, box.height() / 2));
    EXPECT_EQ(Stored(selector), (std::vector<std::int32_t> { 0, 0, 1, 1, 0, 0, 0, 0 }));

    // Chosen elsewhere: the tick follows.
    ASSERT_EQ(
        ops->SetValuesFromOutside(0, std::uint32_t(selector.ControlId()), { 0, 0, 0, 0, 0, 0, 1, 1 }), 0);
    ASSERT_TRUE(zv::test::PumpUntil([&] { return !box.isChecked(); }));

    // A source the card does not record: no item, and a selector needs one.
    recSource.SetComponentType(ctSrcMicrophone);
    EXPECT_EQ(box.Item(), NoItem);
    EXPECT_FALSE(box.isEnabled());
    EXPECT_EQ(box.text(), QStringLiteral("CD Audio")); // left as it was
}

TEST_F(MixerWidgets, TheMuteBoxKeepsItsOwnCaptionAndFollowsTheSwitch)
{
    TMMMixerCheckBox box;
    box.SetAutoCaption(false);
    box.setText(QStringLiteral("Desativar retorno"));
    try {
        box.SetControl(&volume);
        ADD_FAILURE() << "a volume was bound";
    } catch (const EMMMixerControlsError&) {
    }
    box.SetControl(&mute);
    EXPECT_TRUE(box.isEnabled());
    EXPECT_FALSE(box.isChecked());
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(6, box.height() / 2));
    EXPECT_EQ(Stored(mute), (std::vector<std::int32_t> { 1 }));
    EXPECT_EQ(box.text(), QStringLiteral("Desativar retorno"));
    box.SetAutoCaption(true);
    EXPECT_EQ(box.text(), QStringLiteral("Line Mute"));
}

TEST_F(MixerWidgets, ACardThatGoesAwayDisablesTheWidgetsAndIsReportedOnce)
{
    std::vector<std::string> errors;
    zv::SetApplicationErrorHandler([&](const std::exception& e) { errors.emplace_back(e.what()); });
    TMMMixerWheel knob;
    knob.SetControl(&volume);
    TMMMixerCheckBox box;
    box.SetControl(&selector);
    box.SetItemLine(&recSource);
    ASSERT_TRUE(knob.isEnabled() && box.isEnabled());

    ops->Disconnect(0);
    zv::test::PumpUntil([&] { return !errors.empty(); });
    zv::test::Pump(100ms); // a second report would come now
    zv::SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(knob.isEnabled());
    EXPECT_FALSE(box.isEnabled());
    EXPECT_EQ(knob.Value(), 0);
    // Turning a disabled knob from the program writes nothing and raises nothing.
    const std::uint64_t writes = ops->WriteCount();
    knob.SetValue(5);
    EXPECT_EQ(ops->WriteCount(), writes);
}

TEST_F(MixerWidgets, HostileSourceNamesAreCutAndShownAsText)
{
    zv::MemoryMixerTable t = test::StudioCard();
    t.destinations[1].sources[0].name = "&Line\n\xff\xfe" + std::string(300, 'x');
    auto hostile = zv::MakeMemoryMixer({ t });
    TMMMixerDevice card(nullptr, hostile.get());
    TMMAudioLine rec, src;
    rec.SetMixer(&card);
    rec.SetComponentType(ctDstWaveIn);
    src.SetMixer(&card);
    src.SetDestLine(&rec);
    src.SetComponentType(ctSrcLine);
    TMMMixerControl mux;
    mux.SetAudioLine(&rec);
    mux.SetControlType(ctMux);
    TMMMixerCheckBox box;
    box.SetControl(&mux);
    box.SetItemLine(&src);
    const QString caption = box.text();
    EXPECT_TRUE(caption.startsWith(QStringLiteral("&&Line"))) << caption.toStdString();
    EXPECT_FALSE(caption.contains(QLatin1Char('\n')));
    EXPECT_LE(caption.size(), 63 + 1); // cut at 63 bytes, one '&' doubled
}

TEST_F(MixerWidgets, TheDeviceBoxListsTheMapperFirstAndChoosesByIndex)
{
    TMMDeviceComboBox box;
    EXPECT_FALSE(box.isEnabled());
    box.SetDevice(device.get());
    ASSERT_EQ(box.count(), 3);
    EXPECT_EQ(box.itemText(1), QStringLiteral("Studio Card"));
    EXPECT_EQ(box.itemText(2), QStringLiteral("USB Microphone"));
    EXPECT_EQ(box.currentIndex(), 1); // device 0
    EXPECT_TRUE(box.isEnabled());

    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };
    for (auto [index, id] : { std::pair { 2, 1 }, { 0, MapperId }, { 1, 0 } }) {
        box.setCurrentIndex(index);
        emit box.activated(index);
        EXPECT_EQ(device->DeviceId(), id) << index;
        EXPECT_EQ(box.currentIndex(), index);
    }
    EXPECT_EQ(changes, 3);

    // The settings window's hidden box: no mapper, the item index is the device id.
    box.SetIncludeMapper(false);
    ASSERT_EQ(box.count(), 2);
    device->SetDeviceId(1);
    EXPECT_EQ(box.currentIndex(), 1);
    box.setCurrentIndex(0);
    emit box.activated(0);
    EXPECT_EQ(device->DeviceId(), 0);
}
