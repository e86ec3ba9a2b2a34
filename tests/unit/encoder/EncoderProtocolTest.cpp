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
    EXPECT_FALSE(DecodeRequest(std::string(1, '\x07')));
    EXPECT_EQ(DecodeRequest(std::string(1, '\x06'))->op, Op::StopReason);
    EXPECT_FALSE(DecodeReply("short"));

    FrameReader reader;
    reader.Append(std::string("\xff\xff\xff\x7f", 4)); // announces 2 GiB
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Broken());
}
