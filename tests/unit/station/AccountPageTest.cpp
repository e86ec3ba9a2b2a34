#include "station/AccountPage.h"

#include <gtest/gtest.h>

TEST(AccountPage, FormEncodingOfWindows1252Bytes)
{
    const struct {
        QString text;
        QByteArray encoded;
    } cases[] = {
        { QStringLiteral("a b&c"), "a+b%26c" },
        { QStringLiteral("abc"), "abc" },
        { QStringLiteral("\u00e9"), "%e9" },
        { QStringLiteral("~"), "%7e" },
        { QStringLiteral("maria_silva@radio.net"), "maria_silva@radio.net" },
        { QStringLiteral("!$'()*-.@_"), "!$'()*-.@_" },
        { QStringLiteral("=+%/?#\"\t"), "%3d%2b%25%2f%3f%23%22%09" },
        // Windows-1252's own bytes above 127: the euro sign is 80, not UTF-8's three bytes.
        { QStringLiteral("\u20ac\u00ff"), "%80%ff" },
        { QString(), "" },
    };
    for (const auto& c : cases) {
        const QByteArray bytes = MakeAccountRequest(QStringLiteral("x"), c.text, QString()).Body;
        EXPECT_EQ(bytes, "Usuario=" + c.encoded + "&Senha=") << c.text.toStdString();
    }
    // At most three times as long: every byte escaped.
    QByteArray every;
    for (int b = 0; b < 256; ++b) {
        every.append(char(b));
    }
    EXPECT_LE(FormEncode(every).size(), 3 * every.size());
    EXPECT_EQ(FormEncode(QByteArray("\0\xff", 2)), "%00%ff");
}

TEST(AccountPage, RequestAddressBodyAndHeader)
{
    const TAccountRequest request = MakeAccountRequest(
        QStringLiteral("varekradio.net.br"), QStringLiteral("Jos\u00e9 M"), QStringLiteral("s&nha"));
    EXPECT_EQ(request.Url.toString(), "http://info.varekradio.net.br");
    EXPECT_EQ(request.Body, "Usuario=Jos%e9+M&Senha=s%26nha");
    ASSERT_EQ(request.Headers.size(), 1);
    EXPECT_EQ(request.Headers[0].first, "Content-type");
    EXPECT_EQ(request.Headers[0].second, "application/x-www-form-urlencoded");
    EXPECT_EQ(QByteArray(AccountHeaderText), "Content-type: application/x-www-form-urlencoded\r\n");
}

TEST(AccountPage, LimitMapsOntoTheFourBitrates)
{
    const struct {
        int limit;
        const char* kbps;
    } cases[] = {
        { 63, "32000" },
        { 64, "64008" },
        { 95, "64008" },
        { 96, "96000" },
        { 127, "96000" },
        { 128, "128016" },
        { 1000, "128016" },
        { 0, "32000" },
        { -5, "32000" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KbpsForLimit(c.limit), QString::fromLatin1(c.kbps)) << c.limit;
    }
}
