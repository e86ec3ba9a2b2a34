// The stream's details as the operator reads them, and the dead-air detector, alarm and keys.
#include "platform/ResStrings.h"
#include "station/DeadAir.h"
#include "station/StationStrings.h"
#include "station/StreamDetails.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

TStreamDetails OnAir()
{
    TStreamDetails d;
    d.OnAir = true;
    d.OnAirMs = 3'723'000;
    d.BytesSent = 14'200'000;
    d.Server = QStringLiteral("ns2.example.net:8000");
    d.Mount = QStringLiteral("/user");
    d.Listeners = 3;
    return d;
}

const QString kDash = QStringLiteral(" \u2014 ");

} // namespace

TEST(StreamDetails, TextsOfTheHint)
{
    EXPECT_EQ(OnAirTimeText(0), "00:00:00");
    EXPECT_EQ(OnAirTimeText(3'723'999), "01:02:03");
    EXPECT_EQ(OnAirTimeText(360'000'000), "100:00:00");
    EXPECT_EQ(OnAirTimeText(-5), "00:00:00");
    EXPECT_EQ(SentBytesText(850'000), "850 kB");
    EXPECT_EQ(SentBytesText(14'249'999), "14.2 MB");

    struct Case {
        const char* what;
        TStreamDetails details;
        QString text;
    };
    TStreamDetails tls = OnAir();
    tls.Tls = true;
    tls.ListenerPeak = 7;
    tls.Title = QStringLiteral("Banda \u2013 Can\u00e7\u00e3o");
    TStreamDetails unknownCount = OnAir();
    unknownCount.Listeners = -1;
    TStreamDetails offAir = OnAir();
    offAir.OnAir = false;
    TStreamDetails one = OnAir();
    one.Listeners = 1;
    TStreamDetails oneOfPeak = one;
    oneOfPeak.ListenerPeak = 4;
    TStreamDetails none = OnAir();
    none.Listeners = 0;
    none.ListenerPeak = 1;
    const Case cases[] = {
        { "on the air", OnAir(),
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" + kDash + "01:02:03" + kDash
                + "14.2 MB" + kDash + "3 ouvintes" },
        { "tls, peak and title", tls,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user (TLS)" + kDash + "01:02:03"
                + kDash + "14.2 MB" + kDash + QStringLiteral("3 ouvintes (m\u00e1ximo 7)") + kDash
                + QStringLiteral("Tocando: Banda \u2013 Can\u00e7\u00e3o") },
        { "one listener: singular", one,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" + kDash + "01:02:03" + kDash
                + "14.2 MB" + kDash + "1 ouvinte" },
        { "one listener and a peak", oneOfPeak,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" + kDash + "01:02:03" + kDash
                + "14.2 MB" + kDash + QStringLiteral("1 ouvinte (m\u00e1ximo 4)") },
        { "no listener: plural", none,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" + kDash + "01:02:03" + kDash
                + "14.2 MB" + kDash + QStringLiteral("0 ouvintes (m\u00e1ximo 1)") },
        { "count not known", unknownCount,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" + kDash + "01:02:03" + kDash
                + "14.2 MB" },
        { "off the air: where only", offAir,
            QStringLiteral("Conectado") + kDash + "ns2.example.net:8000/user" },
        { "nothing known", TStreamDetails {}, QStringLiteral("Conectado") },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StreamDetailsText(QStringLiteral("Conectado"), c.details), c.text) << c.what;
    }

    // The words come through the language file.
    zv::SetResStringLookup(
        [](int id) { return id == zv::SDetailsListeners ? QStringLiteral("%1 listeners") : QString(); });
    EXPECT_TRUE(StreamDetailsText(QStringLiteral("Connected"), OnAir()).endsWith(kDash + "3 listeners"));
    zv::SetResStringLookup({});
}

namespace {

class ScriptedApp final : public IEncoderApp, public IEncoder {
public:
    HRESULT GetEncoder(std::shared_ptr<IEncoder>& encoder) override
    {
        encoder = std::shared_ptr<IEncoder>(std::shared_ptr<void>(), this);
        return S_OK;
    }
    HRESULT Load(const QString&) override { return S_OK; }
    HRESULT Start() override { return S_OK; }
    HRESULT Stop() override { return S_OK; }
    HRESULT AcknowledgeStopped() override { return S_OK; }
    HRESULT GetRunState(std::int32_t& state) override
    {
        state = 0;
        return S_OK;
    }
    HRESULT GetStreamDetails(TStreamDetails& d) override
    {
        d = details;
        return result;
    }
    TStreamDetails details;
    HRESULT result = S_OK;
};

} // namespace

// A connection ends when its encoder goes off the air, is replaced, or starts a new connection between
// two polls (its time on the air goes back); each end is logged once with the last details seen.
TEST(StreamDetails, EachEndedConnectionIsLoggedOnce)
{
    TStreamDetailsWatch watch;
    QStringList log;
    const auto line = [&](const QString& text) { log << text; };
    ScriptedApp first;
    ScriptedApp second;
    first.details = OnAir();

    watch.Poll(&first, QStringLiteral("Conectado"), line);
    first.details.OnAirMs += 1000;
    first.details.BytesSent = 14'300'000;
    watch.Poll(&first, QStringLiteral("Conectado"), line);
    EXPECT_TRUE(log.isEmpty());

    first.details.OnAirMs = 2000; // reconnected between two polls
    watch.Poll(&first, QStringLiteral("Conectado"), line);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(
        log[0], "Conex\u00e3o com ns2.example.net:8000/user encerrada: 01:02:04 no ar, 14.3 MB enviados");

    second.details = OnAir();
    watch.Poll(&second, QStringLiteral("Conectado"), line); // a new encoder
    EXPECT_EQ(log.size(), 2);
    second.result = E_FAIL; // cannot tell: taken as off the air
    EXPECT_EQ(watch.Poll(&second, QStringLiteral("Desconectado"), line), "Desconectado");
    EXPECT_EQ(log.size(), 3);
    watch.Poll(nullptr, QStringLiteral("Desconectado"), line);
    EXPECT_EQ(log.size(), 3);
}

namespace {

std::vector<std::int16_t> Block(int frames, std::int16_t value)
{
    return std::vector<std::int16_t>(static_cast<std::size_t>(2 * frames), value);
}

void Feed(TDeadAirDetector& detector, const std::vector<std::int16_t>& block)
{
    detector.Feed(block.data(), static_cast<int>(block.size() * sizeof(std::int16_t)));
}

} // namespace

// Time is counted in the captured frames, so it is exact whatever the scheduling; the level is the
// block's peak against the threshold (-50 dBFS: a magnitude of 104 is sound, 103 is not).
TEST(DeadAir, DetectorCountsSilentFramesUntilABlockReachesTheLevel)
{
    TDeadAirDetector detector(2, 1000);
    detector.Configure(-50, 20);
    Feed(detector, Block(500, 103));
    std::vector<std::int16_t> negative = Block(500, 0);
    negative[7] = -103;
    Feed(detector, negative);
    EXPECT_DOUBLE_EQ(detector.SilentSeconds(), 1.0);
    EXPECT_EQ(detector.RunsEnded(), 0u);

    negative[7] = -104;
    Feed(detector, negative);
    EXPECT_EQ(detector.SilentSeconds(), 0.0);
    EXPECT_EQ(detector.RunsEnded(), 1u);
    EXPECT_DOUBLE_EQ(detector.LastRunSeconds(), 1.0);

    // The most negative sample, odd byte counts and empty blocks do no harm.
    Feed(detector, Block(10, std::numeric_limits<std::int16_t>::min()));
    const std::int16_t odd[3] = { 0, 0, 0 };
    detector.Feed(odd, 5);
    detector.Feed(nullptr, 100);
    detector.Feed(odd, 0);
    EXPECT_EQ(detector.RunsEnded(), 1u);

    // At the lowest level only digital zero is silence.
    detector.Configure(-120, 20);
    Feed(detector, Block(1000, 1));
    EXPECT_EQ(detector.SilentSeconds(), 0.0);
    Feed(detector, Block(1000, 0));
    EXPECT_DOUBLE_EQ(detector.SilentSeconds(), 1.0);
}

TEST(DeadAir, AlarmRaisesOnceAndClearsWhenSoundReturnsEvenBriefly)
{
    TDeadAirDetector detector(2, 1000);
    TDeadAirAlarm alarm(detector);
    alarm.SetSettings({ true, -50, 2 });

    Feed(detector, Block(1999, 0));
    EXPECT_FALSE(alarm.Tick());
    Feed(detector, Block(1, 0));
    const auto raised = alarm.Tick();
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->Silent);
    EXPECT_TRUE(alarm.Raised());
    Feed(detector, Block(1000, 0));
    EXPECT_FALSE(alarm.Tick());

    // Sound for one block, then silence again, all between two ticks: still a return.
    Feed(detector, Block(10, 5000));
    Feed(detector, Block(500, 0));
    const auto cleared = alarm.Tick();
    ASSERT_TRUE(cleared);
    EXPECT_FALSE(cleared->Silent);
    EXPECT_EQ(cleared->Message, "O som voltou depois de 00:00:03 de sil\u00eancio");
    EXPECT_FALSE(alarm.Tick());

    // Switched off: silence says nothing.
    alarm.SetSettings({ false, -50, 2 });
    Feed(detector, Block(5000, 0));
    EXPECT_FALSE(alarm.Tick());
}

// Every save of the settings window applies the settings again: the same ones leave a raised alarm
// and a silent run alone; changed ones (or switching off) clear a raised alarm with an empty message,
// so the window drops its warning instead of keeping it for good.
TEST(DeadAir, SettingsAppliedAgainKeepOrClearARaisedAlarm)
{
    TDeadAirDetector detector(2, 1000);
    TDeadAirAlarm alarm(detector);
    alarm.SetSettings({ true, -50, 2 });
    Feed(detector, Block(1500, 0));
    alarm.SetSettings({ true, -50, 2 });
    Feed(detector, Block(500, 0));
    ASSERT_TRUE(alarm.Tick());
    alarm.SetSettings({ true, -50, 2 });
    EXPECT_TRUE(alarm.Raised());
    EXPECT_FALSE(alarm.Tick());
    Feed(detector, Block(10, 5000));
    const auto cleared = alarm.Tick();
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->Message, "O som voltou depois de 00:00:02 de sil\u00eancio");

    for (const TDeadAirSettings changed :
        { TDeadAirSettings { true, -40, 2 }, TDeadAirSettings { false, -50, 2 } }) {
        SCOPED_TRACE(changed.Enabled ? "level changed" : "switched off");
        alarm.SetSettings({ true, -50, 2 });
        Feed(detector, Block(2000, 0));
        ASSERT_TRUE(alarm.Tick());
        alarm.SetSettings(changed);
        const auto dropped = alarm.Tick();
        ASSERT_TRUE(dropped);
        EXPECT_FALSE(dropped->Silent);
        EXPECT_TRUE(dropped->Message.isEmpty());
        EXPECT_FALSE(alarm.Raised());
        EXPECT_FALSE(alarm.Tick());
    }
}

// The tooltip names when the silence began, not when the alarm fired: the return message counts from
// the same moment. The clock's midnight lies between the two for a silence that began the day before.
TEST(DeadAir, WarningNamesTheTimeTheSilenceBegan)
{
    const struct {
        QTime now;
        double silentSeconds;
        const char* since;
    } cases[] = {
        { QTime(10, 0, 20), 20.0, "10:00:00" },
        { QTime(10, 0, 20, 400), 20.6, "09:59:59" }, // counted in samples, not whole seconds
        { QTime(0, 0, 5), 20.0, "23:59:45" },
        { QTime(12, 0, 0), 86400.0, "12:00:00" }, // the longest SilencioTempo: a whole day
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeadAirWarningText(c.now, c.silentSeconds),
            QStringLiteral("ATEN\u00c7\u00c3O: sil\u00eancio no ar desde ") + QLatin1String(c.since))
            << c.since;
    }

    // The alarm tells how long the silence has lasted when it fires, which may be past its time.
    TDeadAirDetector detector(2, 1000);
    TDeadAirAlarm alarm(detector);
    alarm.SetSettings({ true, -50, 2 });
    Feed(detector, Block(2700, 0));
    const auto raised = alarm.Tick();
    ASSERT_TRUE(raised);
    EXPECT_DOUBLE_EQ(raised->SilentSeconds, 2.7);
}

TEST(DeadAir, KeysOfTheSettingsFile)
{
    struct Case {
        const char* what;
        QByteArray ini;
        TDeadAirSettings expected;
        int problems;
        const char* problemText;
    };
    const Case cases[] = {
        { "none: defaults", "[Geral]\r\nUsuario=a\r\n", { true, -50, 20 }, 0, nullptr },
        { "all set", "[Geral]\r\nSilencioAlarme=1\r\nSilencioNivel=-40,5\r\nSilencioTempo= 8 \r\n",
            { true, -40.5, 8 }, 0, nullptr },
        { "off", "[Geral]\r\nSilencioAlarme=0\r\n", { false, -50, 20 }, 0, nullptr },
        { "not numbers", "[Geral]\r\nSilencioAlarme=sim\r\nSilencioTempo=20s\r\n", { true, -50, 20 }, 2,
            "cfg.ini: o valor \"20s\" da chave SilencioTempo em [Geral] n\u00e3o \u00e9 um n\u00famero; vale "
            "20" },
        { "out of range", "[Geral]\r\nSilencioNivel=10\r\nSilencioTempo=0\r\n", { true, -50, 20 }, 2,
            "cfg.ini: o valor 10 da chave SilencioNivel em [Geral] est\u00e1 fora de -120 a -1; vale -50" },
        { "empty values: defaults", "[Geral]\r\nSilencioNivel=\r\nSilencioTempo=\r\n", { true, -50, 20 }, 0,
            nullptr },
        { "not finite", "[Geral]\r\nSilencioNivel=nan\r\nSilencioTempo=inf\r\n", { true, -50, 20 }, 2,
            nullptr },
    };
    for (const Case& c : cases) {
        QStringList problems;
        const TDeadAirSettings s = ReadDeadAirSettings(zv::ProfileFile(c.ini), problems);
        EXPECT_EQ(s.Enabled, c.expected.Enabled) << c.what;
        EXPECT_EQ(s.LevelDb, c.expected.LevelDb) << c.what;
        EXPECT_EQ(s.Seconds, c.expected.Seconds) << c.what;
        EXPECT_EQ(problems.size(), c.problems) << c.what << ": " << problems.join('|').toStdString();
        if (c.problemText) {
            EXPECT_TRUE(problems.contains(QString::fromUtf8(c.problemText)))
                << c.what << ": " << problems.join('|').toStdString();
        }
    }
}

// Without an input device no block comes, so the detector alone would stay quiet: the alarm counts the
// time since the loss on top of the silence before it, says "no input device" instead of silence (at
// once when it was raised for silence), and the device's return clears it without a message.
TEST(DeadAir, LostInputRaisesNoInputDeviceAndItsReturnClearsIt)
{
    const QString noInput = QStringLiteral("Sil\u00eancio no ar: nenhum dispositivo de entrada h\u00e1 %1 s");
    TDeadAirDetector detector(2, 1000);
    TDeadAirAlarm alarm(detector);
    alarm.SetSettings({ true, -50, 3 });

    // One second of silence, then the device goes: two more ticks reach the alarm's 3 s.
    Feed(detector, Block(1000, 0));
    alarm.SetInputLost(true);
    alarm.SetInputLost(true); // told twice, counted once
    EXPECT_FALSE(alarm.Tick());
    const auto raised = alarm.Tick();
    ASSERT_TRUE(raised);
    EXPECT_TRUE(raised->Silent);
    EXPECT_EQ(raised->Message, noInput.arg(2));
    EXPECT_DOUBLE_EQ(raised->SilentSeconds, 2.0);
    EXPECT_TRUE(alarm.RaisedWithoutInput());
    EXPECT_FALSE(alarm.Tick()) << "raised once";

    alarm.SetInputLost(false);
    const auto cleared = alarm.Tick();
    ASSERT_TRUE(cleared);
    EXPECT_FALSE(cleared->Silent);
    EXPECT_TRUE(cleared->Message.isEmpty());
    EXPECT_FALSE(alarm.Raised());
    EXPECT_FALSE(alarm.RaisedWithoutInput());
    Feed(detector, Block(10, 5000));
    EXPECT_FALSE(alarm.Tick()) << "sound after the return: nothing to clear";

    // Raised for silence, then the device goes: the next tick says why there is nothing to hear.
    Feed(detector, Block(3000, 0));
    ASSERT_TRUE(alarm.Tick());
    ASSERT_FALSE(alarm.RaisedWithoutInput());
    alarm.SetInputLost(true);
    const auto switched = alarm.Tick();
    ASSERT_TRUE(switched);
    EXPECT_TRUE(switched->Silent);
    EXPECT_EQ(switched->Message, noInput.arg(1));

    // Switched off meanwhile: cleared, and nothing more while the device stays away.
    alarm.SetSettings({ false, -50, 3 });
    ASSERT_TRUE(alarm.Tick());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(alarm.Tick());
    }
}

TEST(DeadAir, NoInputWarningNamesTheTimeTheDeviceWasLost)
{
    EXPECT_EQ(DeadAirNoInputWarningText(QTime(10, 0, 30), 45),
        QStringLiteral("ATEN\u00c7\u00c3O: nenhum dispositivo de entrada desde 09:59:45"));
}
