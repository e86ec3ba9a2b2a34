// Linking rules, format passing, buffer sizes and chain walks.

#include "TestComponents.h"

#include <QObject>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {
TWaveFormatEx Pcm(int bits, int channels, int rate)
{
    TWaveFormatEx f {};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}
} // namespace

TEST(Chain, LinkingOntoAnOccupiedInputReleasesBothOldPeers)
{
    TTestNode a("a", nullptr), b("b", nullptr), c("c", nullptr), d("d", nullptr);
    a.SetOutput(&d);
    c.SetOutput(&b);
    ASSERT_EQ(b.GetInput(), &c);

    a.SetOutput(&b);
    EXPECT_EQ(a.GetOutput(), &b);
    EXPECT_EQ(b.GetInput(), &a);
    EXPECT_EQ(c.GetOutput(), nullptr);
    EXPECT_EQ(d.GetInput(), nullptr);
    EXPECT_EQ(a.OutputPortName(), "Input");
    EXPECT_EQ(b.InputPortName(), "Output");
    EXPECT_EQ(c.OutputPortName(), "");

    // The mirror call: a candidate that feeds someone else leaves it.
    d.SetInput(&a);
    EXPECT_EQ(d.GetInput(), &a);
    EXPECT_EQ(a.GetOutput(), &d);
    EXPECT_EQ(b.GetInput(), nullptr);
}

TEST(Chain, SelfLinksCyclesAndMissingPortsAreRefused)
{
    TTestNode head("h", nullptr), mid("m", nullptr), tail("t", nullptr);
    TTestSink sink;
    QObject stranger;
    head.SetOutput(&mid);
    mid.SetOutput(&tail);

    head.SetOutput(&head);
    head.SetInput(&head);
    tail.SetOutput(&head); // head would be below its own tail
    head.SetInput(&tail);
    mid.SetInput(&tail);
    sink.SetOutput(&head); // sink has no Output port to point back
    head.SetInput(&sink);
    EXPECT_FALSE(head.CanLinkOutput(&stranger));

    EXPECT_EQ(head.GetInput(), nullptr);
    EXPECT_EQ(head.GetOutput(), &mid);
    EXPECT_EQ(mid.GetInput(), &head);
    EXPECT_EQ(mid.GetOutput(), &tail);
    EXPECT_EQ(tail.GetOutput(), nullptr);
    EXPECT_EQ(sink.GetInput(), nullptr);
}

TEST(Chain, FormatTravelsDownAsIndependentCopies)
{
    TTestNode src("s", nullptr), dst("d", nullptr);
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    src.SetWaveFormat(&f);
    src.SetOutput(&dst);
    ASSERT_NE(dst.WaveFormat(), nullptr);
    EXPECT_NE(dst.WaveFormat(), src.WaveFormat());
    EXPECT_EQ(dst.WaveFormat()->nAvgBytesPerSec, 176400u);

    const TWaveFormatEx g = Pcm(8, 1, 11025);
    src.SetWaveFormat(&g);
    EXPECT_EQ(dst.WaveFormat()->nAvgBytesPerSec, 11025u);

    src.SetOutput(nullptr);
    EXPECT_EQ(dst.WaveFormat(), nullptr);
}

TEST(Chain, HeldFormatIsPassedOnWithoutStopping)
{
    std::string log;
    TTestNode a("a", &log), b("b", &log);
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    a.SetWaveFormat(&f);
    a.SetOutput(&b);
    a.ChainOpen();
    a.ChainStart();
    log.clear();

    a.SetWaveFormat(a.WaveFormat());
    EXPECT_TRUE(a.Started());
    EXPECT_EQ(log, "");

    const TWaveFormatEx g = Pcm(16, 1, 44100);
    a.SetWaveFormat(&g);
    EXPECT_FALSE(a.Started());
    EXPECT_EQ(log, "a.stop ");
    EXPECT_EQ(b.WaveFormat()->nChannels, 1);
}

TEST(Chain, RealBufferSizeIsWholeFramesFixedAtOpen)
{
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    struct Case {
        int requested, real;
        bool format;
    };
    for (const Case c : { Case { 4096, 4096, true }, Case { 4094, 4092, true }, Case { 2, 4, true },
             Case { 4094, 4094, false } }) {
        TTestNode n("n", nullptr);
        if (c.format)
            n.SetWaveFormat(&f);
        n.SetBufferSize(c.requested);
        n.ChainOpen();
        EXPECT_EQ(n.RealBufferSize(), c.real) << c.requested;
        EXPECT_EQ(n.GetBufferSize(), c.real);
        n.SetBufferSize(1000); // takes effect at the next open
        EXPECT_EQ(n.GetBufferSize(), c.real);
        n.ChainClose();
        EXPECT_EQ(n.GetBufferSize(), 1000);
    }
}

TEST(Chain, DestroyedMemberIsForgottenByItsPeers)
{
    TTestNode a("a", nullptr), c("c", nullptr);
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    a.SetWaveFormat(&f);
    auto b = std::make_unique<TTestNode>("b", nullptr);
    a.SetOutput(b.get());
    b->SetOutput(&c);
    ASSERT_NE(c.WaveFormat(), nullptr);
    const auto registry = TMMDSPComponent::DSPRegistry();
    EXPECT_EQ(std::count(registry.begin(), registry.end(), b.get()), 1);

    b.reset();
    EXPECT_EQ(a.GetOutput(), nullptr);
    EXPECT_EQ(c.GetInput(), nullptr);
    EXPECT_EQ(c.WaveFormat(), nullptr);
    EXPECT_EQ(TMMDSPComponent::DSPRegistry().size(), 2u);
}

TEST(Chain, LoadingDefersFormatPassingUntilLoaded)
{
    TTestNode a("a", nullptr), b("b", nullptr);
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    a.BeginLoading();
    b.BeginLoading();
    a.SetWaveFormat(&f);
    a.SetOutput(&b);
    EXPECT_EQ(b.WaveFormat(), nullptr);
    b.EndLoading();
    a.EndLoading();
    ASSERT_NE(b.WaveFormat(), nullptr);
    EXPECT_EQ(b.WaveFormat()->nSamplesPerSec, 44100u);
}

TEST(Chain, DeviceWalksItsSegmentAndLetsTheLowerDeviceCloseFirst)
{
    // head -> dev1 -> x -> dev2 -> y : dev1 owns head and x; dev2 owns y.
    std::string log;
    TTestNode head("head", &log), x("x", &log), y("y", &log);
    TTestDevice dev1("dev1", &log), dev2("dev2", &log);
    head.SetOutput(&dev1);
    dev1.SetOutput(&x);
    x.SetOutput(&dev2);
    dev2.SetOutput(&y);
    dev1.SetBufferSize(4096);
    log.clear();

    dev1.Walk(TTestDevice::TChainOp::Open);
    EXPECT_EQ(log, "head.open4096 x.open4096 dev2.open ");
    EXPECT_FALSE(dev1.Driven());
    log.clear();
    dev1.Walk(TTestDevice::TChainOp::Stop);
    EXPECT_EQ(log, "dev2.stop head.stop x.stop ");

    dev2.Walk(TTestDevice::TChainOp::Open);
    EXPECT_TRUE(dev2.Driven());
}

TEST(Chain, DeliverBufferFiresHandlerThenOutput)
{
    TTestNode a("a", nullptr);
    TTestConsumer sink;
    a.SetOutput(&sink);
    std::vector<char> block(WaveHeaderSize + 8, 0);
    auto* h = reinterpret_cast<PWaveHdr>(block.data());
    h->lpData = block.data() + WaveHeaderSize;
    h->dwBytesRecorded = 8;
    h->lpData[0] = 42;
    int seen = -1;
    a.OnBufferReady = [&](QObject* sender, PWaveHdr hdr) {
        EXPECT_EQ(sender, &a);
        seen = sink.Buffers();
        EXPECT_EQ(hdr, h);
    };
    a.DeliverBuffer(h);
    EXPECT_EQ(seen, 0);
    ASSERT_EQ(sink.Bytes().size(), 8u);
    EXPECT_EQ(sink.Bytes()[0], 42);
}
