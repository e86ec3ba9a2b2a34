// The account browser's handling of its helper process, with small stand-ins for zoveva-account
// (Python scripts) that answer well, badly or not at all: whatever the helper does, a post ends in
// one answer, an abandoned or unwanted helper does not stay alive, and nothing blocks the window.

#include "account/AccountHelperProtocol.h"
#include "station/AccountBrowser.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zv::test::PumpUntil;

// Every stand-in starts with this: it reads the request line and writes its own pid to the file
// named after the request's body, so the test can see whether it is still alive.
const char* const kPrologue = R"(#!/usr/bin/env python3
import base64, json, os, signal, sys, time
request = json.loads(sys.stdin.readline())
body = base64.b64decode(request["body"]).decode("latin-1")
with open(os.path.join(os.path.dirname(sys.argv[0]), body + ".pid"), "w") as f:
    f.write(str(os.getpid()))
def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()
)";

bool Alive(const QString& pidFile)
{
    QFile file(pidFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const pid_t pid = file.readAll().toInt();
    return pid > 0 && ::kill(pid, 0) == 0;
}

class AccountHelper : public ::testing::Test {
protected:
    // A browser whose helper is the stand-in with `script` after the prologue.
    void Use(const QByteArray& script, std::chrono::milliseconds readTimeout = 60s)
    {
        const QString path = Dir.filePath(QStringLiteral("helper.py"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kPrologue + script);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        zv::AccountHelperOptions options;
        options.Executable = path;
        options.ReadTimeout = readTimeout;
        options.EndTimeout = 1s;
        Browser = zv::MakeWebAccountBrowser(&Window, options);
        Browser->View()->resize(232, 305);
        QObject::connect(Browser.get(), &TAccountBrowser::PageLoaded,
            [this](const std::optional<QString>& limit) { Loads.push_back(limit); });
    }

    void Post(const QByteArray& body)
    {
        TAccountRequest request;
        request.Url = QUrl(QStringLiteral("http://info.zoveva.localhost/"));
        request.Body = body;
        request.Headers = ParseHeaderLines(AccountHeaderText);
        Browser->Post(request);
    }

    QString PidFile(const QString& body) const { return Dir.filePath(body + QStringLiteral(".pid")); }

    QTemporaryDir Dir;
    QWidget Window;
    std::unique_ptr<TAccountBrowser> Browser;
    std::vector<std::optional<QString>> Loads;
};

// One post, one answer: the page's limit from a helper that reads it, no limit from one that fails in
// any way, and the helper gone afterwards.
TEST_F(AccountHelper, EveryReadEndsInOneAnswerAndNoHelperLeft)
{
    const struct {
        const char* what;
        QByteArray script;
        std::optional<QString> limit;
    } cases[] = {
        // The request arrives whole: address, header and body bytes beyond ASCII.
        { "answers",
            R"(say(json.dumps({"limit": request["url"] + " " + request["headers"][0][1] + " " + body})))",
            QStringLiteral("http://info.zoveva.localhost/ application/x-www-form-urlencoded Senha=\u00e9") },
        { "answers no element", R"(say('{"limit": null}'))", std::nullopt },
        { "says what is not ours", R"(say("96"); say('{"limit": 96}'); say('{"window": "12"}'); say("{"))",
            std::nullopt },
        { "crashes", "os.kill(os.getpid(), signal.SIGSEGV)", std::nullopt },
        { "hangs", "time.sleep(600)", std::nullopt },
        { "floods", "sys.stdout.write('x' * 1000000); sys.stdout.flush(); time.sleep(600)", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loads.clear();
        Use(c.script, 2s);
        Post("Senha=\xe9");
        ASSERT_TRUE(PumpUntil([&] { return !Loads.empty(); }, 30s));
        EXPECT_EQ(Loads.front(), c.limit);
        EXPECT_TRUE(PumpUntil([&] { return !Alive(PidFile(QStringLiteral("Senha=\u00e9"))); }, 10s));
        zv::test::Pump(300ms);
        EXPECT_EQ(Loads.size(), 1u);
    }

    // No helper at all.
    Loads.clear();
    zv::AccountHelperOptions missing;
    missing.Executable = Dir.filePath(QStringLiteral("missing"));
    Browser = zv::MakeWebAccountBrowser(&Window, missing);
    QObject::connect(Browser.get(), &TAccountBrowser::PageLoaded,
        [this](const std::optional<QString>& limit) { Loads.push_back(limit); });
    Post("x");
    ASSERT_TRUE(PumpUntil([&] { return !Loads.empty(); }, 30s));
    EXPECT_EQ(Loads, std::vector<std::optional<QString>> { std::nullopt });
}

// A newer post abandons the older one: only its answer counts, and the older helper ends.
TEST_F(AccountHelper, NewerPostAbandonsTheOlder)
{
    Use(R"(
if body == "first":
    time.sleep(3)
say(json.dumps({"limit": "64" if body == "first" else "96"}))
)");
    Post("first");
    ASSERT_TRUE(PumpUntil([&] { return Alive(PidFile(QStringLiteral("first"))); }, 10s));
    Post("second");
    ASSERT_TRUE(PumpUntil([&] { return !Loads.empty(); }, 30s));
    EXPECT_TRUE(PumpUntil([&] { return !Alive(PidFile(QStringLiteral("first"))); }, 5s));
    zv::test::Pump(4s);
    EXPECT_EQ(Loads, std::vector<std::optional<QString>> { QStringLiteral("96") });
}

// Shown, the page reports every load; hidden, its helper is told to end, and killed when it does not.
TEST_F(AccountHelper, ShownPageReportsEveryLoadAndEndsWhenHidden)
{
    for (const bool obeys : { true, false }) {
        SCOPED_TRACE(obeys ? "ends with its input" : "ignores its input");
        Loads.clear();
        Use(QByteArray(R"(
if "--read" in sys.argv:
    say('{"limit": "64"}')
    sys.exit(0)
say('{"limit": "96"}')
say('{"limit": "128"}')
)") + (obeys ? "sys.stdin.read()" : "signal.signal(signal.SIGTERM, signal.SIG_IGN); time.sleep(600)"));
        // Nothing posted yet: nothing to show.
        Browser->SetShown(true);
        zv::test::Pump(300ms);
        EXPECT_FALSE(Alive(PidFile(QStringLiteral("shown"))));
        Post("shown");
        ASSERT_TRUE(PumpUntil([&] { return Loads.size() == 1; }, 30s));
        ASSERT_TRUE(PumpUntil([&] { return !Alive(PidFile(QStringLiteral("shown"))); }, 10s));
        Browser->SetShown(true);
        ASSERT_TRUE(PumpUntil([&] { return Loads.size() == 3; }, 30s));
        EXPECT_EQ(Loads,
            (std::vector<std::optional<QString>> {
                QStringLiteral("64"), QStringLiteral("96"), QStringLiteral("128") }));
        EXPECT_TRUE(Alive(PidFile(QStringLiteral("shown"))));
        Browser->SetShown(false);
        EXPECT_TRUE(PumpUntil([&] { return !Alive(PidFile(QStringLiteral("shown"))); }, 10s));
    }
}

// The helper's answers as the browser takes them; anything else is not an answer.
TEST(AccountHelperProtocol, ReportsAndRequests)
{
    using Kind = zv::account::Report::Kind;
    const struct {
        QByteArray line;
        Kind what;
        std::optional<QString> limit;
        quint64 window;
    } cases[] = {
        { zv::account::LimitLine(QStringLiteral("96")), Kind::Limit, QStringLiteral("96"), 0 },
        { zv::account::LimitLine(QStringLiteral("a\n\"b")), Kind::Limit, QStringLiteral("a\n\"b"), 0 },
        { zv::account::LimitLine(std::nullopt), Kind::Limit, std::nullopt, 0 },
        { zv::account::WindowLine(0x1c00007ULL), Kind::Window, std::nullopt, 0x1c00007ULL },
        { R"({"window": "0"})", Kind::Garbage, std::nullopt, 0 },
        { R"({"window": 29360135})", Kind::Garbage, std::nullopt, 0 },
        { R"({"limit": 96})", Kind::Garbage, std::nullopt, 0 },
        { R"({"limit": "96", "window": "5"})", Kind::Garbage, std::nullopt, 0 },
        { "96", Kind::Garbage, std::nullopt, 0 },
        { "", Kind::Garbage, std::nullopt, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const zv::account::Report report = zv::account::ParseReport(c.line);
        EXPECT_EQ(report.What, c.what);
        EXPECT_EQ(report.Limit, c.limit);
        EXPECT_EQ(report.Window, c.window);
    }
    // A request comes back byte for byte, and a damaged one not at all.
    const zv::account::Request request { QUrl(QStringLiteral("http://info.r\u00e1dio.example/a?b=%20")),
        QByteArray("Usuario=jos\xe9&Senha=\x01\xff"), { { "Content-type", "x/y \xe9" } } };
    const QByteArray line = zv::account::EncodeRequest(request);
    EXPECT_EQ(line.count('\n'), 1);
    const auto back = zv::account::DecodeRequest(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Url, request.Url);
    EXPECT_EQ(back->Body, request.Body);
    EXPECT_EQ(back->Headers, request.Headers);
    EXPECT_FALSE(zv::account::DecodeRequest(line.left(line.size() / 2)));
    EXPECT_FALSE(zv::account::DecodeRequest(R"({"url": "http://a/", "body": "***", "headers": []})"));
}

} // namespace
