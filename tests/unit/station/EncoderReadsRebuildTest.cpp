// The two sides of the process boundary together: what the client's rebuild writes, the encoder's
// reader takes, for every bitrate row of the shared table and for radio names with any byte cfg.ini
// may hold.
#include "encoder/EncoderSettings.h"
#include "encoder/EncoderShared.h"
#include "platform/Ansi.h"
#include "station/ConfigStore.h"
#include "station/EncodingFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct EncoderReadsRebuild : ::testing::Test {
    QTemporaryDir dir;
    QString user = dir.filePath(QStringLiteral("radio1.xml"));
    QString templ = QStringLiteral(ZOVEVA_TEMPLATE);
    TEncodingValues values { QStringLiteral("R\u00e1dio"), QStringLiteral("Synthetic tone 1 kHz"),
        QStringLiteral("ns1.varekradio.net.br"), QStringLiteral("radio1") };
};

} // namespace

// From the template and from a user's file at every other row: the encoder reads the row's bitrate,
// publishes at its MP3 rate and captures at its sample rate.
TEST_F(EncoderReadsRebuild, EveryBitrateRowFromEveryRow)
{
    for (const zv::shared::BitrateRow& from : zv::shared::kBitrateRows) {
        for (const zv::shared::BitrateRow& to : zv::shared::kBitrateRows) {
            QFile::remove(user);
            RebuildEncodingFileFrom(templ, user, values, QString::fromLatin1(from.Kbps));
            RebuildEncodingFileFrom(user, user, values, QString::fromLatin1(to.Kbps));
            const zv::EncoderSettings settings = zv::ReadEncodingFile(user);
            EXPECT_EQ(settings.bitrateCode, QByteArray(to.Kbps).toInt()) << from.Kbps << " -> " << to.Kbps;
            EXPECT_EQ(settings.kbps, to.Mp3Kbps) << from.Kbps << " -> " << to.Kbps;
            EXPECT_EQ(settings.sampleRate, QByteArray(to.SamplesPerSec).toInt())
                << from.Kbps << " -> " << to.Kbps;
        }
    }
}

// A radio name in cfg.ini with a control byte, or a byte Windows-1252 leaves unassigned, still makes a
// file the encoder loads; the name keeps every character XML can hold.
TEST_F(EncoderReadsRebuild, RadioNameWithAnyByteFromTheSettings)
{
    const std::filesystem::path folder = dir.path().toStdString();
    const struct {
        char byte;
        QString title; // as the file holds it
    } cases[] = {
        { '\x01', QStringLiteral("AB") },
        { '\x1f', QStringLiteral("AB") },
        { '\x7f', QStringLiteral("A\u007fB") },
        { '\x81', QStringLiteral("A\u0081B") },
        { '\x8d', QStringLiteral("A\u008dB") },
        { '\x8f', QStringLiteral("A\u008fB") },
        { '\x90', QStringLiteral("A\u0090B") },
        { '\x9d', QStringLiteral("A\u009dB") },
    };
    for (const auto& c : cases) {
        QFile cfg(dir.filePath(QStringLiteral("cfg.ini")));
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
        cfg.write(QByteArray("[Geral]\r\nRadio=A") + c.byte + "B\r\n");
        cfg.close();
        values.Title = TConfigStore(folder).LoadSettings().Radio;
        // The second rebuild starts from the first one's file, as every later start does.
        for (const QString& source : { templ, user }) {
            RebuildEncodingFileFrom(source, user, values, u"64008");
            const QDomDocument document = LoadEncodingFile(user);
            EXPECT_EQ(document.documentElement().firstChildElement("Description").attribute("Title"), c.title)
                << std::hex << int(static_cast<unsigned char>(c.byte));
            EXPECT_NO_THROW(zv::ReadEncodingFile(user))
                << std::hex << int(static_cast<unsigned char>(c.byte));
        }
    }
}
