#include "platform/Exception.h"

#include <gtest/gtest.h>

namespace {
ZV_DECLARE_EXCEPTION(ESampleError, Exception);
}

TEST(Exception, DerivedTypeNamesItselfAndKeepsUtf8Message)
{
    try {
        throw ESampleError(QStringLiteral("A\u00e7\u00e3o falhou"));
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "ESampleError");
        EXPECT_EQ(e.Message(), QStringLiteral("A\u00e7\u00e3o falhou"));
    }
}
