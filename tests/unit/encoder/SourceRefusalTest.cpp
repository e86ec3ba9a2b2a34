#include "encoder/SourceRefusal.h"

#include <gtest/gtest.h>

using Kind = zv::SourceRefusal::Kind;

// The answers Icecast 2.4 gives a refused source, and what is made of them.
TEST(SourceRefusal, TellsTheServersRefusalsApart)
{
    const struct {
        const char* name;
        QByteArray answer;
        Kind kind;
        const char* text;
    } cases[] = {
        { "wrong password",
            "HTTP/1.0 401 Authentication Required\r\nServer: Icecast 2.4.4\r\nWWW-Authenticate: Basic "
            "realm=\"Icecast2 Server\"\r\n\r\nYou need to authenticate\r\n",
            Kind::WrongPassword, "You need to authenticate" },
        { "publishing point in use",
            "HTTP/1.0 403 Forbidden\r\nServer: Icecast 2.4.4\r\nContent-Type: text/plain; "
            "charset=utf-8\r\n\r\n"
            "Mountpoint in use",
            Kind::MountInUse, "Mountpoint in use" },
        { "another refusal", "HTTP/1.0 403 Forbidden\r\n\r\nToo many sources connected", Kind::Other,
            "Too many sources connected" },
        { "refusal without a body", "HTTP/1.1 500 Internal Server Error\r\n\r\n", Kind::Other,
            "500 Internal Server Error" },
        // The server's words are cut to one printable line.
        { "untrusted words", "HTTP/1.0 403 Forbidden\r\n\r\nMount\x01point in use\x7f\nsecond line",
            Kind::MountInUse, "Mountpoint in use" },
        { "accepted this time", "HTTP/1.0 200 OK\r\n\r\n", Kind::Unknown, "" },
        { "not an answer", "SSH-2.0-OpenSSH_9.2\r\n", Kind::Unknown, "" },
        { "cut short", "HTTP/1.0 40", Kind::Unknown, "" },
        { "nothing", "", Kind::Unknown, "" },
    };
    for (const auto& c : cases) {
        const zv::SourceRefusal refusal = zv::ClassifySourceAnswer(c.answer);
        EXPECT_EQ(refusal.kind, c.kind) << c.name;
        EXPECT_EQ(refusal.serverText.toStdString(), c.text) << c.name;
    }
}
