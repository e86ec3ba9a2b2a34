// The account page's real browser (Qt WebEngine in the helper zoveva-account) against pages served
// by the test itself: what the limit reads as for each kind of page, and that no page, however large
// or slow, holds up the user-interface thread.

#include "station/AccountBrowser.h"

#include "tests/support/Wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>

namespace {

// An HTTP server on loopback whose answer to a path is the test's: a status line with its page, or
// nothing at all (the connection stays open without a word).
class PageServer : public QObject {
public:
    PageServer()
    {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Answer(socket); });
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QUrl Url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    std::map<QByteArray, std::pair<QByteArray, QByteArray>> pages; // path -> status, body

private:
    void Answer(QTcpSocket* socket)
    {
        QByteArray& request = buffers_[socket];
        request += socket->readAll();
        const qsizetype end = request.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        const QByteArray path = request.split(' ').value(1);
        const auto page = pages.find(path);
        if (page == pages.end()) {
            return; // no answer
        }
        const auto& [status, body] = page->second;
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

QByteArray Page(const QByteArray& inside)
{
    return "<!DOCTYPE html><html><body>" + inside + "</body></html>";
}

// The program's helper, in the build's program folder.
zv::AccountHelperOptions Helper()
{
    zv::AccountHelperOptions options;
    options.Executable = qEnvironmentVariable("ZOVEVA_BIN_DIR") + QStringLiteral("/zoveva-account");
    return options;
}

class AccountBrowser : public ::testing::Test {
protected:
    AccountBrowser()
        : browser(zv::MakeWebAccountBrowser(&window, Helper()))
    {
        window.resize(232, 345);
        browser->View()->resize(232, 305);
        window.show();
        QObject::connect(browser.get(), &TAccountBrowser::PageLoaded,
            [this](const std::optional<QString>& limit) { loads.push_back(limit); });
    }

    // Posts to `path` and runs the event loop until a load completes or `seconds` pass; the longest
    // gap between two ticks of a 20 ms timer meanwhile goes to `longestStall`.
    bool Load(const QString& path, double seconds)
    {
        const std::size_t before = loads.size();
        TAccountRequest request;
        request.Url = server.Url(path);
        request.Body = "Usuario=maria&Senha=demo";
        request.Headers = ParseHeaderLines(AccountHeaderText);
        browser->Post(request);
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, clock.elapsed() - last);
            last = clock.elapsed();
        });
        tick.start(20);
        return zv::test::PumpUntil(
            [&] { return loads.size() > before; }, std::chrono::milliseconds(qint64(seconds * 1000)));
    }

    QWidget window;
    PageServer server;
    std::unique_ptr<TAccountBrowser> browser;
    std::vector<std::optional<QString>> loads;
    qint64 longestStall = 0;
};

// What the page says, as the page-loaded handler gets it: the value's text, or nothing without the
// element; HTTP error pages the browser shows count as loaded pages too.
TEST_F(AccountBrowser, LimitAsTheLoadedPageHoldsIt)
{
    server.pages["/96"] = { "200 OK", Page("<input type=hidden id=limitekbps value=96>") };
    server.pages["/abc"] = { "200 OK", Page("<input id=limitekbps value=abc>") };
    server.pages["/empty"] = { "200 OK", Page("<input id=limitekbps value=\"\">") };
    server.pages["/none"] = { "200 OK", Page("<p>Conta</p>") };
    server.pages["/div"] = { "200 OK", Page("<div id=limitekbps>128</div>") };
    server.pages["/denied"] = { "403 Forbidden", Page("<input id=limitekbps value=64>") };
    // The page's own scripts cannot put another function in the lookup's place.
    server.pages["/script"] = { "200 OK",
        Page("<input id=limitekbps value=64><script>document.getElementById = function () {"
             " return { value: '128' }; };</script>") };
    const struct {
        const char* path;
        std::optional<QString> limit;
    } cases[] = {
        { "/96", QStringLiteral("96") },
        { "/abc", QStringLiteral("abc") },
        { "/empty", QString() },
        { "/none", std::nullopt },
        { "/div", std::nullopt },
        { "/denied", QStringLiteral("64") },
        { "/script", QStringLiteral("64") },
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Load(QString::fromLatin1(c.path), 60)) << c.path;
        EXPECT_EQ(loads.back(), c.limit) << c.path;
    }
}

// A 10 MB page, a server that never answers and one that is not there: the window keeps running, and
// none of them yields a limit.
TEST_F(AccountBrowser, LargeSilentOrMissingServersNeverHoldUpTheWindow)
{
    // 10 MB of markup the parser must read through (laying out as much text takes the renderer a
    // minute here; its thread is not ours either way).
    server.pages["/large"] = { "200 OK", Page("<!--" + QByteArray(10 * 1024 * 1024, 'x') + "-->") };
    ASSERT_TRUE(Load(QStringLiteral("/large"), 120));
    EXPECT_EQ(loads.back(), std::nullopt);

    // No answer: no load completes, the loop keeps turning.
    EXPECT_FALSE(Load(QStringLiteral("/silent"), 3));

    // Nobody listening: the browser's own error page, without the element.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    TAccountRequest request;
    request.Url = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    const std::size_t before = loads.size();
    browser->Post(request);
    ASSERT_TRUE(zv::test::PumpUntil([&] { return loads.size() > before; }, std::chrono::seconds(60)));
    EXPECT_EQ(loads.back(), std::nullopt);

    // A stall is what freezes a window: seconds without an event. Loads run in the browser's own
    // processes, so the user-interface thread never waits for them.
    EXPECT_LT(longestStall, 5000);
}

} // namespace
