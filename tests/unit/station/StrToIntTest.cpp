#include "station/StrToInt.h"

#include <gtest/gtest.h>

TEST(StrToInt, TakesDecimalsOnly)
{
    EXPECT_EQ(StrToInt(QStringLiteral(" 96 ")), 96);
    EXPECT_EQ(StrToInt(QStringLiteral("-5")), -5);
    for (const char* bad : { "abc", "", "9.6", "0x60", "99999999999", "96kbps" }) {
        EXPECT_THROW(StrToInt(QString::fromLatin1(bad)), EConvertError) << bad;
    }
}
