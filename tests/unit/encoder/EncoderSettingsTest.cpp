#include "encoder/EncoderSettings.h"

#include <QDomDocument>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using zv::EEncodingFileError;
using zv::ParseEncodingFile;

namespace {

// A minimal encoding file as the client writes it; `profile` is the embedded profile text.
QByteArray File(
    const QString& broadcast = QStringLiteral(
        R"(<Broadcast PublishServer="ns1.example.test" PublishingPoint="radio1" PublishPort="8000" )"
        R"(SourceUser="source" SourcePassword="pw"/>)"),
    const QString& profile
    = QStringLiteral(R"(<profile bitrate="64008" nSamplesPerSec="48000" nChannels="2"/>)"))
{
    return QStringLiteral(R"(<?xml version="1.0"?>
<Encoding>
  <Description Title="Rádio Um"/>
  <SourceGroups><SourceGroup><Source InputSource="Line In"/></SourceGroup></SourceGroups>
  %1
  <Profiles><![CDATA[%2]]></Profiles>
</Encoding>)")
        .arg(broadcast, profile)
        .toUtf8();
}

QString ErrorOf(const QByteArray& content)
{
    try {
        ParseEncodingFile(content, QStringLiteral("u.xml"));
    } catch (const EEncodingFileError& error) {
        return error.Message();
    }
    return {};
}

} // namespace

TEST(EncoderSettings, ReadsEverythingTheEncoderNeeds)
{
    const auto settings = ParseEncodingFile(File(), QStringLiteral("u.xml"));
    EXPECT_EQ(settings.title, QStringLiteral("Rádio Um"));
    EXPECT_EQ(settings.inputSource, QStringLiteral("Line In"));
    EXPECT_EQ(settings.host, QStringLiteral("ns1.example.test"));
    EXPECT_EQ(settings.port, 8000);
    EXPECT_EQ(settings.mount, QStringLiteral("/radio1"));
    EXPECT_EQ(settings.sourceUser, QStringLiteral("source"));
    EXPECT_EQ(settings.sourcePassword, QStringLiteral("pw"));
    EXPECT_EQ(settings.bitrateCode, 64008);
    EXPECT_EQ(settings.kbps, 64);
    EXPECT_EQ(settings.sampleRate, 48000);
    EXPECT_EQ(settings.channels, 2);
}

TEST(EncoderSettings, MapsEachProfileRowToItsMp3Rate)
{
    const struct {
        const char* bitrate;
        const char* rate;
        int kbps;
    } rows[] = { { "32000", "32000", 32 }, { "64008", "48000", 64 }, { "96000", "48000", 96 },
        { "128016", "48000", 128 } };
    for (const auto& row : rows) {
        const auto profile
            = QStringLiteral(R"(<x bitrate="%1" nSamplesPerSec="%2"/>)").arg(row.bitrate, row.rate);
        const auto settings = ParseEncodingFile(
            File(QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw"/>)"),
                profile),
            QStringLiteral("u.xml"));
        EXPECT_EQ(settings.kbps, row.kbps) << row.bitrate;
        EXPECT_EQ(settings.sampleRate, QString::fromLatin1(row.rate).toInt()) << row.bitrate;
    }
}

TEST(EncoderSettings, PortComesFromThePublishServerBeforeTheTemplate)
{
    const struct {
        const char* server;
        const char* host;
        int port;
    } cases[] = {
        { "h.test", "h.test", 8100 }, // template's port
        { "h.test:9000", "h.test", 9000 }, // server's own port wins
        { "[::1]:9001", "::1", 9001 }, // bracketed IPv6 with port
        { "::1", "::1", 8100 }, // bare IPv6, no port
        { "127.0.0.2", "127.0.0.2", 8100 },
    };
    for (const auto& c : cases) {
        const auto broadcast = QStringLiteral(
            R"(<Broadcast PublishServer="%1" PublishingPoint="p" PublishPort="8100" SourcePassword="pw"/>)")
                                   .arg(c.server);
        const auto settings = ParseEncodingFile(File(broadcast), QStringLiteral("u.xml"));
        EXPECT_EQ(settings.host, QString::fromLatin1(c.host)) << c.server;
        EXPECT_EQ(settings.port, c.port) << c.server;
    }
}

TEST(EncoderSettings, RefusesBadFilesWithAMessageThatSaysWhatIsWrong)
{
    const QString okBroadcast
        = QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw"/>)");
    const struct {
        QByteArray content;
        const char* expected;
    } cases[] = {
        { "", "not well-formed" },
        { "<a><b>", "not well-formed" },
        { File().replace("<Description Title=\"Rádio Um\"/>", ""), "element Description is missing" },
        { File().replace("<SourceGroup>", "<Group>").replace("</SourceGroup>", "</Group>"),
            "SourceGroups/SourceGroup is missing" },
        { File().replace("InputSource=\"Line In\"", ""), "no input device" },
        { File(QStringLiteral("<Other/>")), "element Broadcast is missing" },
        { File(QStringLiteral(R"(<Broadcast PublishingPoint="p" SourcePassword="pw"/>)")),
            "no publish server" },
        { File(QStringLiteral(
              R"(<Broadcast PublishServer="h:80a" PublishingPoint="p" SourcePassword="pw"/>)")),
            "invalid port \"80a\"" },
        { File(QStringLiteral(
              R"(<Broadcast PublishServer="h:70000" PublishingPoint="p" SourcePassword="pw"/>)")),
            "invalid port \"70000\"" },
        { File(QStringLiteral(R"(<Broadcast PublishServer="h:" PublishingPoint="p" SourcePassword="pw"/>)")),
            "invalid port \"\"" },
        { File(QStringLiteral(
              R"(<Broadcast PublishServer="h" PublishPort="x1" PublishingPoint="p" SourcePassword="pw"/>)")),
            "invalid port \"x1\"" },
        { File(QStringLiteral(
              R"(<Broadcast PublishServer="bad host" PublishingPoint="p" SourcePassword="pw"/>)")),
            "invalid host name" },
        { File(QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="" SourcePassword="pw"/>)")),
            "publishing point" },
        { File(
              QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="  / " SourcePassword="pw"/>)")),
            "publishing point" },
        { File(QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p"/>)")),
            "no source password" },
        { File(okBroadcast, QStringLiteral("<profile/>")), "no audio profile" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="12801" nSamplesPerSec="48000"/>)")),
            "unknown bitrate \"12801\"" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="-32000" nSamplesPerSec="48000"/>)")),
            "unknown bitrate" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="64008"/>)")), "no nSamplesPerSec" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="64008" nSamplesPerSec="47999"/>)")),
            "unsupported sample rate" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="128016" nSamplesPerSec="8000"/>)")),
            "cannot be encoded at 8000 Hz" },
        { File(okBroadcast, QStringLiteral(R"(<x bitrate="64008" nSamplesPerSec="48000" nChannels="6"/>)")),
            "channel count" },
    };
    for (const auto& c : cases) {
        const QString message = ErrorOf(c.content);
        EXPECT_TRUE(message.startsWith(QStringLiteral("Encoding file \"u.xml\": "))) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.expected)))
            << c.expected << " / " << message.toStdString();
    }
}

// The name, the description (Description/@Description) and the genre (Broadcast/@Genre) go to the
// server in headers: line breaks cannot forge another one.
TEST(EncoderSettings, StreamDetailsCannotForgeHeaders)
{
    const QByteArray content
        = File(QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw" )"
                              R"(Genre="Vari&#10;edades"/>)"))
              .replace("Title=\"Rádio Um\"",
                  "Title=\"Radio&#13;&#10;Icy-Evil: 1\" Description=\"Ao&#9;vivo&#13;&#10;X: y\"");
    const auto settings = ParseEncodingFile(content, QStringLiteral("u.xml"));
    EXPECT_EQ(settings.title, QStringLiteral("Radio Icy-Evil: 1"));
    EXPECT_EQ(settings.description, QStringLiteral("Ao vivo X: y"));
    EXPECT_EQ(settings.genre, QStringLiteral("Vari edades"));
}

// Icecast reads an MP3 source's details as ISO-8859-1 unless its mount says otherwise; the template
// tells the encoder which one the network's servers expect.
TEST(EncoderSettings, MetadataCharacterSetComesFromTheTemplate)
{
    using Charset = zv::EncoderSettings::MetadataCharset;
    const auto broadcast = [](const QString& charset) {
        return File(
            QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw" %1/>)")
                .arg(charset));
    };
    const struct {
        QString attribute;
        Charset expected;
    } cases[] = {
        { QString(), Charset::Latin1 },
        { QStringLiteral(R"(MetadataCharset="iso-8859-1")"), Charset::Latin1 },
        { QStringLiteral(R"(MetadataCharset=" UTF-8 ")"), Charset::Utf8 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            ParseEncodingFile(broadcast(c.attribute), QStringLiteral("u.xml")).metadataCharset, c.expected)
            << c.attribute.toStdString();
    }
    EXPECT_TRUE(
        ErrorOf(broadcast(QStringLiteral(R"(MetadataCharset="KOI8-R")")))
            .contains(QStringLiteral("unknown character set \"KOI8-R\" in Broadcast/@MetadataCharset")));
}

TEST(EncoderSettings, ReadsFromDiskAndNamesAMissingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("user.xml"));
    try {
        zv::ReadEncodingFile(path);
        FAIL() << "a missing file was accepted";
    } catch (const EEncodingFileError& error) {
        EXPECT_TRUE(error.Message().contains(path));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(File());
    file.close();
    EXPECT_EQ(zv::ReadEncodingFile(path).mount, QStringLiteral("/radio1"));

    // A pipe (whose open would wait for a writer) and an endless device are refused at once.
    const QString pipe = dir.filePath(QStringLiteral("pipe.xml"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString& odd : { pipe, QStringLiteral("/dev/zero") }) {
        try {
            zv::ReadEncodingFile(odd);
            ADD_FAILURE() << odd.toStdString() << " was accepted";
        } catch (const EEncodingFileError& error) {
            EXPECT_TRUE(error.Message().contains(QStringLiteral("is not a regular file"))) << error.what();
        }
    }
}

// The installed template, patched as the client patches it, is a file the encoder accepts.
TEST(EncoderSettings, AcceptsTheTemplateOnceTheClientHasFilledIt)
{
    QFile file(qEnvironmentVariable("ZOVEVA_BIN_DIR") + QStringLiteral("/padrao.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QDomDocument document;
    ASSERT_TRUE(document.setContent(&file));
    const QDomElement root = document.documentElement();
    root.firstChildElement(QStringLiteral("SourceGroups"))
        .firstChildElement(QStringLiteral("SourceGroup"))
        .firstChildElement(QStringLiteral("Source"))
        .setAttribute(QStringLiteral("InputSource"), QStringLiteral("Placa 1"));
    QDomElement broadcast = root.firstChildElement(QStringLiteral("Broadcast"));
    broadcast.setAttribute(QStringLiteral("PublishServer"), QStringLiteral("ns2.example.test"));
    broadcast.setAttribute(QStringLiteral("PublishingPoint"), QStringLiteral("radio7"));

    const auto settings = ParseEncodingFile(document.toByteArray(), QStringLiteral("padrao.xml"));
    EXPECT_EQ(settings.inputSource, QStringLiteral("Placa 1"));
    EXPECT_EQ(settings.host, QStringLiteral("ns2.example.test"));
    EXPECT_EQ(settings.port, 8000);
    EXPECT_EQ(settings.mount, QStringLiteral("/radio7"));
    EXPECT_EQ(settings.sourceUser, QStringLiteral("source"));
    EXPECT_FALSE(settings.sourcePassword.isEmpty());
    EXPECT_EQ(settings.kbps, 32);
    EXPECT_EQ(settings.sampleRate, 32000);
    EXPECT_EQ(settings.channels, 2);
}

// TLS and the now-playing file are the template's to switch on; both stay off when it says nothing,
// and a value the encoder does not know is refused rather than read as "off".
TEST(EncoderSettings, TlsAndNowPlayingFileComeFromBroadcast)
{
    using Tls = zv::EncoderSettings::Tls;
    const auto broadcast = [](const QString& extra) {
        return File(
            QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw" %1/>)")
                .arg(extra));
    };
    const auto off = ParseEncodingFile(broadcast({}), QStringLiteral("u.xml"));
    EXPECT_EQ(off.tls, Tls::Off);
    EXPECT_TRUE(off.tlsCaFile.isEmpty());
    EXPECT_TRUE(off.nowPlayingFile.isEmpty());
    EXPECT_EQ(
        ParseEncodingFile(broadcast(QStringLiteral(R"(Tls="0")")), QStringLiteral("u.xml")).tls, Tls::Off);
    EXPECT_EQ(ParseEncodingFile(broadcast(QStringLiteral(R"(Tls=" 1 ")")), QStringLiteral("u.xml")).tls,
        Tls::Verified);
    for (const char* value : { "yes", "2", "insecure" }) {
        EXPECT_TRUE(
            ErrorOf(broadcast(QStringLiteral(R"(Tls="%1")").arg(QString::fromLatin1(value))))
                .contains(
                    QStringLiteral("unknown value \"%1\" in Broadcast/@Tls").arg(QString::fromLatin1(value))))
            << value;
    }
    EXPECT_TRUE(ErrorOf(broadcast(QStringLiteral(R"(NowPlayingFile="a&#10;b")")))
                    .contains(QStringLiteral("Broadcast/@NowPlayingFile is not a usable file name")));

    // Relative names are files beside the encoding file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("user.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        broadcast(QStringLiteral(R"(Tls="1" TlsCaFile="certs/ca.pem" NowPlayingFile="/var/tocando.txt")")));
    file.close();
    const auto read = zv::ReadEncodingFile(path);
    EXPECT_EQ(read.tls, Tls::Verified);
    EXPECT_EQ(read.tlsCaFile, dir.filePath(QStringLiteral("certs/ca.pem")));
    EXPECT_EQ(read.nowPlayingFile, QStringLiteral("/var/tocando.txt"));
}

// The recording is off unless the file says 1; its folder is beside the file unless absolute, and
// numbers out of their range are refused, not read as a default.
TEST(EncoderSettings, RecordingComesFromBroadcast)
{
    const auto broadcast = [](const QString& extra) {
        return File(
            QStringLiteral(R"(<Broadcast PublishServer="h" PublishingPoint="p" SourcePassword="pw" %1/>)")
                .arg(extra));
    };
    const auto off = ParseEncodingFile(broadcast({}), QStringLiteral("u.xml")).recording;
    EXPECT_FALSE(off.enabled);
    EXPECT_EQ(off.days, 30);
    EXPECT_EQ(off.minFreeBytes, std::int64_t(1) << 30);
    struct Refused {
        const char* attributes;
        const char* message;
    };
    for (const Refused& c :
        { Refused { R"(Recording="sim")", "unknown value \"sim\" in Broadcast/@Recording" },
            Refused { R"(RecordingDays="-1")", "invalid value \"-1\" in Broadcast/@RecordingDays" },
            Refused { R"(RecordingDays="36501")", "invalid value \"36501\" in Broadcast/@RecordingDays" },
            Refused {
                R"(RecordingMinFreeMB="1e3")", "invalid value \"1e3\" in Broadcast/@RecordingMinFreeMB" },
            Refused {
                R"(RecordingFolder="a&#10;b")", "Broadcast/@RecordingFolder is not a usable file name" } }) {
        EXPECT_TRUE(
            ErrorOf(broadcast(QString::fromUtf8(c.attributes))).contains(QString::fromUtf8(c.message)))
            << c.attributes;
    }

    QTemporaryDir dir;
    const auto read = [&](const QString& extra) {
        const QString path = dir.filePath(QStringLiteral("user.xml"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(broadcast(extra));
        file.close();
        return zv::ReadEncodingFile(path).recording;
    };
    const auto defaults = read(QStringLiteral(R"(Recording="1")"));
    EXPECT_TRUE(defaults.enabled);
    EXPECT_EQ(defaults.folder, dir.filePath(QStringLiteral("Gravacoes")));
    const auto chosen = read(QStringLiteral(
        R"(Recording="1" RecordingFolder="/srv/ar" RecordingDays="0" RecordingMinFreeMB="5")"));
    EXPECT_EQ(chosen.folder, QStringLiteral("/srv/ar"));
    EXPECT_EQ(chosen.days, 0);
    EXPECT_EQ(chosen.minFreeBytes, 5 * 1024 * 1024);
}
