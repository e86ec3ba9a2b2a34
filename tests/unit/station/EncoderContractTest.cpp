#include "station/EncoderContract.h"

#include <gtest/gtest.h>

TEST(EncoderContract, FailingResultRaisesWithItsCodeAndSuccessDoesNot)
{
    EXPECT_NO_THROW(CheckResult(S_OK, "Start"));
    EXPECT_NO_THROW(CheckResult(1, "Start")); // positive results are successes too
    try {
        CheckResult(E_ENCODER_GONE, "GetRunState");
        FAIL() << "no error raised";
    } catch (const EEncoderError& e) {
        EXPECT_EQ(e.Code(), E_ENCODER_GONE);
        EXPECT_STREQ(e.ClassName(), "EEncoderError");
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("GetRunState: "))) << e.what();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("80010108"))) << e.what();
    }
}
