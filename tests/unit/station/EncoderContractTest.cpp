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
        // The code is for the log: the operator's box shows the message alone.
        EXPECT_FALSE(e.Message().contains(QStringLiteral("80010108"))) << e.what();
        EXPECT_EQ(e.MessageWithCode(), e.Message() + QStringLiteral(" (0x80010108)"));
    }
}

TEST(EncoderContract, ImplementationsDescriptionNamesTheCauseOnce)
{
    SetEncoderErrorInfo(QStringLiteral("stale text of a call that succeeded"));
    EXPECT_NO_THROW(CheckResult(S_OK, "Load"));
    SetEncoderErrorInfo(QStringLiteral("cannot reach ns1.varekradio.net.br:8000"));
    try {
        CheckResult(E_FAIL, "Start");
        FAIL() << "no error raised";
    } catch (const EEncoderError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Start: cannot reach ns1.varekradio.net.br:8000"));
    }
    try {
        CheckResult(E_FAIL, "Stop");
    } catch (const EEncoderError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Stop: unspecified error"));
    }
    // A server's words pass through as they are, placeholders and all.
    SetEncoderErrorInfo(QStringLiteral("The server refused the source, saying \"%1 %2 %3\""));
    try {
        CheckResult(E_FAIL, "Start");
    } catch (const EEncoderError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Start: The server refused the source, saying \"%1 %2 %3\""));
        EXPECT_EQ(e.MessageWithCode(),
            QStringLiteral("Start: The server refused the source, saying \"%1 %2 %3\" (0x80004005)"));
    }
}
