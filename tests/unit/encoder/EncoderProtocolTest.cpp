#include "encoder/EncoderProtocol.h"

#include <gtest/gtest.h>

using namespace zv::protocol;

TEST(EncoderProtocol, FramesSurviveArbitrarySplits)
{
    const std::string stream = EncodeRequest({ Op::Load, "/tmp/ré sumé.xml" })
        + EncodeRequest({ Op::RunState, {} }) + EncodeReply({ kFail, 5, "Encoding file: bad" });
    FrameReader reader;
    std::vector<std::string> frames;
    for (char byte : stream) {
        reader.Append(std::string_view(&byte, 1));
        while (auto frame = reader.Next()) {
            frames.push_back(*frame);
        }
    }
    ASSERT_EQ(frames.size(), 3u);
    const auto load = DecodeRequest(frames[0]);
    ASSERT_TRUE(load);
    EXPECT_EQ(load->op, Op::Load);
    EXPECT_EQ(load->text, "/tmp/ré sumé.xml");
    EXPECT_EQ(DecodeRequest(frames[1])->op, Op::RunState);
    const auto reply = DecodeReply(frames[2]);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, kFail);
    EXPECT_EQ(reply->value, 5);
    EXPECT_EQ(reply->message, "Encoding file: bad");
}

TEST(EncoderProtocol, RejectsWhatNoPeerSends)
{
    EXPECT_FALSE(DecodeRequest(""));
    EXPECT_FALSE(DecodeRequest(std::string(1, '\x09')));
    EXPECT_EQ(DecodeRequest(std::string(1, '\x06'))->op, Op::StopReason);
    EXPECT_EQ(DecodeRequest(std::string(1, '\x07'))->op, Op::StreamDetails);
    EXPECT_EQ(DecodeRequest(std::string(1, '\x08'))->op, Op::Recording);
    EXPECT_FALSE(DecodeReply("short"));

    FrameReader reader;
    reader.Append(std::string("\xff\xff\xff\x7f", 4)); // announces 2 GiB
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Broken());
}

// Either side may be newer than the other: unknown keys are skipped, unreadable numbers keep their
// "unknown" defaults, and a value cannot break out of its line.
TEST(EncoderProtocol, StreamDetailsSurviveTheTripAndOlderOrNewerPeers)
{
    StreamDetails sent;
    sent.onAir = true;
    sent.onAirMs = 3723000;
    sent.bytesSent = 5'000'000'000;
    sent.server = "[::1]:8443";
    sent.mount = "/rádio";
    sent.tls = true;
    sent.listeners = 3;
    sent.listenerPeak = 14;
    sent.title = "Canção = boa\nlistener_peak=99";
    sent.recording = 2;
    sent.recordingFolder = "/srv/Gravações";
    const StreamDetails read = DecodeStreamDetails(EncodeStreamDetails(sent));
    EXPECT_TRUE(read.onAir);
    EXPECT_EQ(read.onAirMs, 3723000);
    EXPECT_EQ(read.bytesSent, 5'000'000'000);
    EXPECT_EQ(read.server, "[::1]:8443");
    EXPECT_EQ(read.mount, "/rádio");
    EXPECT_TRUE(read.tls);
    EXPECT_EQ(read.listeners, 3);
    EXPECT_EQ(read.listenerPeak, 14);
    EXPECT_EQ(read.title, "Canção = boa listener_peak=99");
    EXPECT_EQ(read.recording, 2);
    EXPECT_EQ(read.recordingFolder, "/srv/Gravações");

    const StreamDetails odd = DecodeStreamDetails("future=1\nlisteners=many\nlistener_peak=7x\non_air_ms=-\n"
                                                  "no equals sign\nserver=h:1");
    EXPECT_EQ(odd.listeners, -1);
    EXPECT_EQ(odd.listenerPeak, -1);
    EXPECT_EQ(odd.onAirMs, 0);
    EXPECT_FALSE(odd.onAir);
    EXPECT_EQ(odd.server, "h:1");
}
