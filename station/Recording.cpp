#include "station/Recording.h"

#include "platform/Ansi.h"
#include "platform/FileIo.h"
#include "platform/ResStrings.h"
#include "station/StationStrings.h"

#include <QDir>

namespace {

constexpr const char* kKeyGravar = "Gravar";
constexpr const char* kKeyPasta = "PastaGravacoes";
constexpr const char* kKeyDias = "DiasGravacoes";
constexpr const char* kKeyMinimo = "MinimoLivreMB";

void ReadWhole(
    const zv::ProfileFile& file, const char* key, int low, int high, int& value, QStringList& problems)
{
    const std::optional<QByteArray> text = file.Value("Geral", key);
    if (!text || text->trimmed().isEmpty()) {
        return;
    }
    const std::optional<int> number = zv::ParseProfileInteger(text->trimmed());
    if (!number) {
        problems << zv::LoadResString(zv::SKeyNotANumber)
                        .arg(QString::fromLatin1(key), QString::fromLatin1(*text), QString::number(value));
    } else if (*number < low || *number > high) {
        problems << zv::LoadResString(zv::SKeyOutOfRange)
                        .arg(QString::fromLatin1(key), QString::number(*number), QString::number(low),
                            QString::number(high), QString::number(value));
    } else {
        value = *number;
    }
}

} // namespace

TRecordingSettings ReadRecordingSettings(const zv::ProfileFile& file, QStringList& problems)
{
    TRecordingSettings settings;
    int on = settings.Enabled ? 1 : 0;
    ReadWhole(file, kKeyGravar, 0, 1, on, problems);
    settings.Enabled = on == 1;
    if (const std::optional<QByteArray> folder = file.Value("Geral", kKeyPasta)) {
        const QString text = zv::FromAnsi(folder->trimmed());
        if (!text.isEmpty()) {
            settings.Folder = text;
        }
    }
    ReadWhole(file, kKeyDias, 0, 36500, settings.Days, problems);
    ReadWhole(file, kKeyMinimo, 0, 16 * 1024 * 1024, settings.MinFreeMB, problems);
    return settings;
}

void WriteRecordingSwitch(const std::filesystem::path& configFile, bool on)
{
    zv::WriteProfileStrings(configFile, "Geral", { { kKeyGravar, on ? "1" : "0" } }, zv::kPrivateFileMode);
}

QString RecordingDetailsText(const TStreamDetails& details)
{
    const QString folder = QDir::toNativeSeparators(details.RecordingFolder);
    switch (details.Recording) {
    case TRecordingState::Recording:
        return zv::LoadResString(zv::SRecordingOn).arg(folder);
    case TRecordingState::PausedLowSpace:
        return zv::LoadResString(zv::SRecordingPaused).arg(folder);
    case TRecordingState::Failing:
        return zv::LoadResString(zv::SRecordingFailing).arg(folder);
    case TRecordingState::Off:
        break;
    }
    return {};
}
