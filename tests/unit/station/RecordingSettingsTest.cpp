// The recording of the air on the client's side: cfg.ini's keys as the operator writes them, the
// encoding file the encoder then reads (a folder with any character the file can hold), the tray
// item's save that leaves the other keys alone, and the hint's words for each state.
#include "encoder/EncoderSettings.h"
#include "platform/Ansi.h"
#include "platform/ProfileFile.h"
#include "station/EncodingFile.h"
#include "station/Recording.h"
#include "station/StreamDetails.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(RecordingSettings, KeysOfGeral)
{
    const struct {
        const char* ini;
        TRecordingSettings expected;
        int problems;
    } cases[] = {
        { "[Geral]\nKbps=32000\n", {}, 0 },
        { "[Geral]\nGravar=1\nPastaGravacoes= /srv/ar \nDiasGravacoes=90\nMinimoLivreMB=0\n",
            { true, QStringLiteral("/srv/ar"), 90, 0 }, 0 },
        { "[Geral]\nGravar=sim\nDiasGravacoes=-3\nMinimoLivreMB=muito\n", {}, 3 },
        { "[Geral]\nGravar=2\nDiasGravacoes=36501\nPastaGravacoes=\n", {}, 2 },
        { "[Geral]\nPastaGravacoes=Grava\xe7\xf5"
          "es\n",
            { false, QStringLiteral("Grava\u00e7\u00f5es"), 30, 1024 }, 0 },
    };
    for (const auto& c : cases) {
        QStringList problems;
        EXPECT_EQ(ReadRecordingSettings(zv::ProfileFile(QByteArray(c.ini)), problems), c.expected) << c.ini;
        EXPECT_EQ(problems.size(), c.problems) << c.ini << problems.join(u'|').toStdString();
    }
}

// The tray item's save changes Gravar only; read back, the rest is as it was.
TEST(RecordingSettings, SwitchKeepsTheOtherKeys)
{
    QTemporaryDir dir;
    const std::filesystem::path ini = dir.filePath(QStringLiteral("cfg.ini")).toStdString();
    zv::WriteProfileStrings(ini, "Geral", { { "Usuario", "radio1" }, { "PastaGravacoes", "/srv/ar" } });
    WriteRecordingSwitch(ini, true);
    QStringList problems;
    const zv::ProfileFile file = zv::ProfileFile::Read(ini);
    EXPECT_TRUE(ReadRecordingSettings(file, problems).Enabled);
    EXPECT_EQ(ReadRecordingSettings(file, problems).Folder, QStringLiteral("/srv/ar"));
    EXPECT_EQ(file.Value("Geral", "Usuario"), QByteArray("radio1"));
    WriteRecordingSwitch(ini, false);
    EXPECT_FALSE(ReadRecordingSettings(zv::ProfileFile::Read(ini), problems).Enabled);
    EXPECT_TRUE(problems.isEmpty());
}

// What the client writes, the encoder reads: on and off, a relative folder beside the file, and a
// folder name with quotes and an ampersand.
TEST(RecordingSettings, EncoderReadsWhatTheClientWrites)
{
    QTemporaryDir dir;
    const QString user = dir.filePath(QStringLiteral("radio1.xml"));
    TEncodingValues values { QStringLiteral("R\u00e1dio"), QStringLiteral("Synthetic tone 1 kHz"),
        QStringLiteral("ns1.varekradio.net.br"), QStringLiteral("radio1") };
    values.Recording = TRecordingSettings { true, QStringLiteral("Grava\u00e7\u00f5es \"A&B\""), 7, 300 };
    RebuildEncodingFileFrom(QStringLiteral(ZOVEVA_TEMPLATE), user, values, u"32000");
    zv::RecordingSettings read = zv::ReadEncodingFile(user).recording;
    EXPECT_TRUE(read.enabled);
    EXPECT_EQ(read.folder, dir.filePath(QStringLiteral("Grava\u00e7\u00f5es \"A&B\"")));
    EXPECT_EQ(read.days, 7);
    EXPECT_EQ(read.minFreeBytes, 300 * 1024 * 1024);

    values.Recording->Enabled = false;
    RebuildEncodingFileFrom(user, user, values, u"32000");
    EXPECT_FALSE(zv::ReadEncodingFile(user).recording.enabled);
}

TEST(RecordingSettings, HintSaysWhetherAndWhere)
{
    TStreamDetails details;
    details.RecordingFolder = QStringLiteral("/srv/ar");
    EXPECT_FALSE(
        StreamDetailsText(QStringLiteral("Desconectado"), details).contains(QStringLiteral("/srv/ar")));
    const struct {
        TRecordingState state;
        QString text;
    } cases[] = {
        { TRecordingState::Recording, QStringLiteral("Gravando o que vai ao ar em /srv/ar") },
        { TRecordingState::PausedLowSpace,
            QStringLiteral("Gravação pausada: pouco espaço livre em /srv/ar") },
        { TRecordingState::Failing, QStringLiteral("Gravação falhando: não é possível gravar em /srv/ar") },
    };
    for (const auto& c : cases) {
        details.Recording = c.state;
        // Off the air too: the recording goes on while the server is away.
        EXPECT_TRUE(StreamDetailsText(QStringLiteral("Desconectado"), details).endsWith(c.text));
    }
}

} // namespace
