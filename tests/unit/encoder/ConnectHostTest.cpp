#include "encoder/IcecastPublisher.h"

#include <gtest/gtest.h>

// Names under "localhost" reach this machine without a hosts entry; every other name goes to the
// system's resolver untouched.
TEST(ConnectHost, LocalhostNamesAreLoopbackOthersUnchanged)
{
    const struct {
        const char* host;
        const char* connect;
    } cases[] = {
        { "localhost", "127.0.0.1" },
        { "ns1.demo.localhost", "127.0.0.1" },
        { "NS2.Demo.LocalHost.", "127.0.0.1" },
        { "ns1.zoveva.test", "ns1.zoveva.test" },
        { "localhost.example.com", "localhost.example.com" },
        { "notlocalhost", "notlocalhost" },
        { "127.0.0.1", "127.0.0.1" },
        { "::1", "::1" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::ConnectHost(QString::fromLatin1(c.host)), QString::fromLatin1(c.connect)) << c.host;
    }
}
