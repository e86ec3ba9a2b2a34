// What the encoder adds to the stream beyond sound, against private Icecast servers on loopback: its
// details for the client (time on the air, bytes, listeners from the server's status), the song titles
// of a playout's now-playing file, and TLS to the server with the certificate verified.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "ProxyDriver.h"
#include "StreamCheck.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;
using zv::test::Encoder;
using zv::test::Eventually;
using zv::test::IcecastServer;
using zv::test::State;
using zv::test::Until;

namespace {

const QString kTone = QStringLiteral("Synthetic tone 1 kHz");

// A listener that stays until the end of the test (or until Stop).
class Listener {
public:
    explicit Listener(const QString& url)
    {
        const QByteArray address = url.toLocal8Bit();
        char program[] = "curl";
        char quiet[] = "-s";
        char insecure[] = "-k";
        char output[] = "-o";
        char nowhere[] = "/dev/null";
        char* argv[]
            = { program, quiet, insecure, output, nowhere, const_cast<char*>(address.constData()), nullptr };
        if (posix_spawnp(&pid_, "curl", nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
    }
    ~Listener() { Stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

class StreamFeaturesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        options_.executable = qEnvironmentVariable("ZOVEVA_BIN_DIR").toStdString() + "/zoveva-encoder";
        options_.logFile = dir_.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    }

    static QString Address(const IcecastServer& server)
    {
        return QStringLiteral("%1:%2").arg(server.Address()).arg(server.Port());
    }

    QString File(const IcecastServer& server, const QString& user, int bitrateCode = 32000,
        const QString& broadcast = {})
    {
        return zv::test::WriteEncodingFile(
            dir_.path(), user, kTone, Address(server), server.Password(), bitrateCode, broadcast);
    }

    std::shared_ptr<IEncoderApp> Start(const QString& file) { return zv::test::StartEncoder(options_, file); }

    static TStreamDetails Details(IEncoderApp& app)
    {
        TStreamDetails details;
        CheckResult(Encoder(app)->GetStreamDetails(details), "stream details");
        return details;
    }

    QString Log() const { return zv::test::ReadText(QString::fromStdString(options_.logFile.string())); }

    // The song title the server's status page shows for the mount.
    static QString StatusTitle(const IcecastServer& server)
    {
        return server.Status()
            .value(QStringLiteral("source"))
            .toObject()
            .value(QStringLiteral("title"))
            .toString();
    }

    QTemporaryDir dir_;
    zv::EncoderProcessOptions options_;
};

// The text with its numeric character references ("&#8220;", "&#x201C;") replaced by their characters.
QString ReferencesResolved(const QString& text)
{
    static const QRegularExpression reference(QStringLiteral("&#(x[0-9a-fA-F]+|[0-9]+);"));
    QString resolved;
    qsizetype from = 0;
    for (auto it = reference.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString number = match.captured(1);
        const char32_t code = number.startsWith(u'x') ? number.mid(1).toUInt(nullptr, 16) : number.toUInt();
        resolved += text.mid(from, match.capturedStart() - from) + QString::fromUcs4(&code, 1);
        from = match.capturedEnd();
    }
    return resolved + text.mid(from);
}

// Writes the bytes to the file in place (a playout that rewrites its file) or through a new file
// renamed over it (one that replaces it).
void WriteTitleFile(const QString& path, const QByteArray& bytes, bool replace = false)
{
    const QString target = replace ? path + QStringLiteral(".new") : path;
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    if (replace) {
        ASSERT_EQ(std::rename(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
    }
}

} // namespace

// The client's display: where the stream goes, how long it has been on the air, how much it sent and
// how many listen, as the server counts them; the log keeps each connection's time and bytes.
TEST_F(StreamFeaturesTest, StreamDetailsFollowTheConnectionAndItsListeners)
{
    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    auto app = Start(File(server, QStringLiteral("detalhes")));
    Until(*app, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();

    const TStreamDetails first = Details(*app);
    EXPECT_TRUE(first.OnAir);
    EXPECT_EQ(first.Server, Address(server));
    EXPECT_EQ(first.Mount, QStringLiteral("/detalhes"));
    EXPECT_FALSE(first.Tls);
    std::this_thread::sleep_for(1500ms); // over a second on the air, by the details' own count too
    const TStreamDetails later = Details(*app);
    EXPECT_GE(later.OnAirMs - first.OnAirMs, 1000);
    EXPECT_GT(later.BytesSent, first.BytesSent);
    // 32 kbit/s: 4000 bytes a second, give or take what is still on its way.
    EXPECT_LT(later.BytesSent, 4000 * (later.OnAirMs / 1000 + 3));

    // The status request runs every 10 s.
    EXPECT_TRUE(Eventually([&] { return Details(*app).Listeners == 0; }, 30s)) << Log().toStdString();
    {
        Listener one(server.Url(QStringLiteral("/detalhes")));
        Listener two(server.Url(QStringLiteral("/detalhes")));
        EXPECT_TRUE(Eventually(
            [&] {
                const TStreamDetails d = Details(*app);
                return d.Listeners == 2 && d.ListenerPeak == 2;
            },
            30s));
    }
    EXPECT_TRUE(Eventually(
        [&] {
            const TStreamDetails d = Details(*app);
            return d.Listeners == 0 && d.ListenerPeak == 2;
        },
        30s));
    EXPECT_FALSE(Log().contains(QStringLiteral("Cannot read the listener count"))) << Log().toStdString();

    CheckResult(Encoder(*app)->Stop(), "stop");
    Until(*app, EncoderRunState::Stopped, 5s);
    const TStreamDetails stopped = Details(*app);
    EXPECT_FALSE(stopped.OnAir);
    EXPECT_EQ(stopped.Server, Address(server)) << "still says where it would go";
    EXPECT_EQ(stopped.Listeners, -1);
    static const QRegularExpression ended(
        QStringLiteral("the connection ended after (\\d\\d):(\\d\\d):(\\d\\d) on the air, (\\d+) bytes sent "
                       "\\(server [^,]+, publishing point /detalhes\\)"));
    const auto match = ended.match(Log());
    ASSERT_TRUE(match.hasMatch()) << Log().toStdString();
    // At least two status periods; a slow machine may take past a minute.
    EXPECT_GE(
        match.captured(1).toInt() * 3600 + match.captured(2).toInt() * 60 + match.captured(3).toInt(), 20);
    EXPECT_GT(match.captured(4).toLongLong(), 20 * 3000);

    // An encoder process that died is not on the air, and says so without failing.
    kill(static_cast<zv::TEncoderProcessApp&>(*app).Process().Pid(), SIGKILL);
    std::this_thread::sleep_for(200ms); // the kill takes effect
    EXPECT_FALSE(Details(*app).OnAir);
}

// A playout writes the song on the air to a file; listeners and the server's status page get it as
// the stream's title, whatever the file goes through, and nothing that happens to it takes the stream
// off the air.
TEST_F(StreamFeaturesTest, NowPlayingFileGivesTheStreamItsTitles)
{
    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    const QString titles = dir_.filePath(QStringLiteral("tocando.txt"));
    WriteTitleFile(titles, "Primeira Canção\n");
    // 128 kbit/s: Icecast puts a title in the stream every 16000 bytes, about once a second.
    auto app = Start(
        File(server, QStringLiteral("titulos"), 128016, QStringLiteral(R"(NowPlayingFile="tocando.txt")")));
    Until(*app, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();
    const auto showsTitle
        = [&](const QString& title) { return Eventually([&] { return StatusTitle(server) == title; }, 10s); };
    EXPECT_TRUE(showsTitle(QStringLiteral("Primeira Canção"))) << Log().toStdString();
    EXPECT_EQ(Details(*app).Title, QStringLiteral("Primeira Canção"));

    // Replaced by a rename, in Windows-1252, with a second line.
    WriteTitleFile(titles, "Segunda can\xe7\xe3o\r\nfaixa 2\r\n", true);
    EXPECT_TRUE(showsTitle(QStringLiteral("Segunda canção"))) << Log().toStdString();
    const QStringList heard = zv::test::ListenForTitles(server, QStringLiteral("/titulos"), 4);
    ASSERT_FALSE(heard.isEmpty());
    EXPECT_EQ(heard.last(), QStringLiteral("Segunda canção")) << heard.join(u'|').toStdString();

    // Titles as playouts write them reach the server whole, as its status page reports them:
    // Windows-1252 punctuation (in either encoding) and stray control characters as blanks. The server
    // keeps a title in its mount's character set (ISO-8859-1 here) and writes what that set lacks as a
    // numeric character reference ("&#8220;"), for its status page and its listeners alike.
    const struct {
        QByteArray bytes;
        QString title;
    } written[] = {
        { "\x01"
          "Faixa\x1b\x0b"
          "com\x0c"
          "controles\x1f\n",
            QStringLiteral("Faixa com controles") },
        { "\xe2\x80\x98Sol\xe2\x80\x99 \xe2\x80\x94 Lua\n", QStringLiteral("\u2018Sol\u2019 \u2014 Lua") },
        { "Banda \x93Voz\x94 \x96 5 \x80\x85\n",
            QStringLiteral("Banda \u201cVoz\u201d \u2013 5 \u20ac\u2026") },
    };
    for (const auto& w : written) {
        WriteTitleFile(titles, w.bytes, true);
        EXPECT_TRUE(Eventually([&] { return ReferencesResolved(StatusTitle(server)) == w.title; }, 10s))
            << w.title.toStdString() << "\n"
            << StatusTitle(server).toStdString() << "\n"
            << Log().toStdString();
    }
    const QStringList punctuated = zv::test::ListenForTitles(server, QStringLiteral("/titulos"), 3);
    ASSERT_FALSE(punctuated.isEmpty());
    EXPECT_EQ(ReferencesResolved(punctuated.last()), written[2].title) << punctuated.join(u'|').toStdString();

    // Rewritten in place.
    WriteTitleFile(titles, "Terceira");
    EXPECT_TRUE(showsTitle(QStringLiteral("Terceira"))) << Log().toStdString();

    // Emptied, then blanks only: logged each time, and the title on the air stays.
    const QString noTitle = QStringLiteral(
        "tocando.txt\" holds no title: its first line is empty or blank; the title on the air stays");
    WriteTitleFile(titles, "");
    EXPECT_TRUE(Eventually([&] { return Log().count(noTitle) == 1; }, 5s)) << Log().toStdString();
    EXPECT_EQ(StatusTitle(server), QStringLiteral("Terceira"));
    WriteTitleFile(titles, "Quinta", true);
    EXPECT_TRUE(showsTitle(QStringLiteral("Quinta"))) << Log().toStdString();
    WriteTitleFile(titles, " \t \r\n");
    EXPECT_TRUE(Eventually([&] { return Log().count(noTitle) == 2; }, 5s)) << Log().toStdString();
    EXPECT_EQ(StatusTitle(server), QStringLiteral("Quinta"));
    WriteTitleFile(titles, "Terceira", true);
    EXPECT_TRUE(showsTitle(QStringLiteral("Terceira"))) << Log().toStdString();
    // Neither the empty nor the blank file ever reached the server as a title.
    EXPECT_FALSE(Log().contains(QStringLiteral("now playing: \"\""))) << Log().toStdString();

    // Removed, then binary: logged, and the title on the air stays.
    ASSERT_TRUE(QFile::remove(titles));
    EXPECT_TRUE(Eventually(
        [&] {
            return Log().contains(QStringLiteral("tocando.txt\" is not there; the title on the air stays"));
        },
        5s))
        << Log().toStdString();
    WriteTitleFile(titles,
        QByteArray("\x7f"
                   "ELF\x02\x01\x01\0\0\0\0",
            12));
    EXPECT_TRUE(
        Eventually([&] { return Log().contains(QStringLiteral("tocando.txt\" holds binary data")); }, 5s))
        << Log().toStdString();
    EXPECT_EQ(StatusTitle(server), QStringLiteral("Terceira"));

    // A huge file: its first line, and a word in the log.
    WriteTitleFile(titles, "Quarta\n" + QByteArray(3 * 1024 * 1024, 'x'));
    EXPECT_TRUE(showsTitle(QStringLiteral("Quarta"))) << Log().toStdString();
    EXPECT_TRUE(Log().contains(QStringLiteral("is 3145735 bytes long; only its first line is read")));

    EXPECT_EQ(State(*app), EncoderRunState::Running);
    EXPECT_EQ(Log().count(QStringLiteral("state 2 (running)")), 1) << Log().toStdString();
}

// With Tls="1" the source, the status requests and the title updates go over TLS to a server whose
// certificate leads to the trusted authority and is made out to the server's address.
TEST_F(StreamFeaturesTest, TlsServerTakesTheSourceOverAVerifiedConnection)
{
    zv::test::TestCertificates certificates(dir_.path());
    QString error;
    ASSERT_TRUE(certificates.MakeAuthority(QStringLiteral("ca"), &error)) << error.toStdString();
    const QString pem = certificates.MakeServer(
        QStringLiteral("servidor"), QStringLiteral("IP:127.0.0.1"), QStringLiteral("ca"), &error);
    ASSERT_FALSE(pem.isEmpty()) << error.toStdString();
    IcecastServer::Config config;
    config.tlsCertificate = pem;
    IcecastServer server(config);
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();

    const QString titles = dir_.filePath(QStringLiteral("tocando.txt"));
    WriteTitleFile(titles, "Cifrada\n");
    auto app = Start(File(server, QStringLiteral("cifrado"), 64008,
        QStringLiteral(R"(Tls="1" TlsCaFile="ca.pem" NowPlayingFile="tocando.txt")")));
    Until(*app, EncoderRunState::Running, 5s);
    ASSERT_EQ(State(*app), EncoderRunState::Running) << Log().toStdString();
    ASSERT_TRUE(server.WaitForSource(QStringLiteral("/cifrado"), 5));
    EXPECT_TRUE(Details(*app).Tls);

    const auto decoded = zv::test::Decode(server.Listen(QStringLiteral("/cifrado"), 3));
    ASSERT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
    EXPECT_EQ(decoded.bitRate, 64000);
    EXPECT_NEAR(decoded.frequency, 1000, 15);
    EXPECT_TRUE(Eventually([&] { return StatusTitle(server) == QStringLiteral("Cifrada"); }, 10s))
        << Log().toStdString();
    EXPECT_TRUE(Eventually([&] { return Details(*app).Listeners >= 0; }, 30s)) << Log().toStdString();
    EXPECT_EQ(State(*app), EncoderRunState::Running);
}

// A certificate that does not verify ends the start in state 5 with the reason, before the source's
// credentials go anywhere; a server without TLS is never spoken to in plain text instead.
TEST_F(StreamFeaturesTest, TlsServerWhoseCertificateDoesNotVerifyIsRefusedWithTheReason)
{
    zv::test::TestCertificates certificates(dir_.path());
    QString error;
    ASSERT_TRUE(certificates.MakeAuthority(QStringLiteral("ca"), &error)) << error.toStdString();
    ASSERT_TRUE(certificates.MakeAuthority(QStringLiteral("outra"), &error)) << error.toStdString();
    const struct {
        const char* name;
        QString certificate; // empty: a server without TLS
        const char* caFile; // empty: the system's store
        const char* reason;
    } cases[] = {
        { "another authority's certificate",
            certificates.MakeServer(
                QStringLiteral("alheio"), QStringLiteral("IP:127.0.0.1"), QStringLiteral("outra")),
            "ca.pem", "The server's certificate was not accepted: unable to get local issuer certificate" },
        { "made out to another server",
            certificates.MakeServer(
                QStringLiteral("outro-nome"), QStringLiteral("DNS:ns9.zoveva.test"), QStringLiteral("ca")),
            "ca.pem",
            "The server's certificate was not accepted: IP address mismatch: it is not made out to "
            "127.0.0.1" },
        { "self-signed",
            certificates.MakeServer(QStringLiteral("proprio"), QStringLiteral("IP:127.0.0.1"), {}), "ca.pem",
            "The server's certificate was not accepted: self-signed certificate" },
        { "not in the system's store",
            certificates.MakeServer(
                QStringLiteral("teste"), QStringLiteral("IP:127.0.0.1"), QStringLiteral("ca")),
            "", "The server's certificate was not accepted: unable to get local issuer certificate" },
        { "no TLS on the server", QString(), "ca.pem", "Cannot connect to the server over TLS" },
        { "an unreadable CA file",
            certificates.MakeServer(
                QStringLiteral("sem-ca"), QStringLiteral("IP:127.0.0.1"), QStringLiteral("ca")),
            "nada.pem", "The CA file" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IcecastServer::Config config;
        config.tlsCertificate = c.certificate;
        IcecastServer server(config);
        ASSERT_TRUE(server.Start(&error)) << error.toStdString();
        const QString broadcast = *c.caFile
            ? QStringLiteral(R"(Tls="1" TlsCaFile="%1")").arg(QString::fromLatin1(c.caFile))
            : QStringLiteral(R"(Tls="1")");
        auto app = Start(File(server, QStringLiteral("recusado"), 32000, broadcast));
        // Refused by the handshake, well before the 10-s connect deadline; a loaded machine may take
        // seconds to get there.
        EXPECT_LT(Until(*app, EncoderRunState::Stopped, 12s), 9s);
        QString reason;
        CheckResult(Encoder(*app)->GetStopReason(reason), "stop reason");
        EXPECT_TRUE(reason.startsWith(QString::fromUtf8(c.reason))) << reason.toStdString();
        EXPECT_TRUE(Log().contains(QStringLiteral("state 5 (stopped): ") + reason)) << Log().toStdString();
        // The server never saw a source request, in any form.
        EXPECT_FALSE(server.HasSource(QStringLiteral("/recusado")));
        EXPECT_FALSE(server.Log().contains("/recusado")) << server.Log().toStdString();
        app.reset();
    }
}

// TLS to a port that speaks plain HTTP: the server waits for the headers of a request, which our
// handshake never sends, for longer than the 10-s connect deadline. The stop says what happened (the
// handshake got no answer) instead of blaming the source; the server never saw a source request.
TEST_F(StreamFeaturesTest, TlsToAPlainHttpPortStopsSayingTheHandshakeGotNoAnswer)
{
    IcecastServer::Config config;
    config.headerTimeout = 60;
    IcecastServer server(config);
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    auto app = Start(File(server, QStringLiteral("semtls"), 32000, QStringLiteral(R"(Tls="1")")));
    Until(*app, EncoderRunState::Stopped, 30s);
    ASSERT_EQ(State(*app), EncoderRunState::Stopped) << Log().toStdString();
    QString reason;
    EXPECT_TRUE(Eventually(
        [&] {
            CheckResult(Encoder(*app)->GetStopReason(reason), "stop reason");
            return !reason.isEmpty();
        },
        5s));
    EXPECT_EQ(reason,
        QStringLiteral(
            "The server did not answer the TLS handshake within 10 s (%1): that port may not have TLS")
            .arg(QStringLiteral("server 127.0.0.1:%1, publishing point /semtls").arg(server.Port())))
        << Log().toStdString();
    EXPECT_FALSE(server.Log().contains("/semtls")) << server.Log().toStdString();
}
