#include "station/ConfigStore.h"

#include "platform/Ansi.h"
#include "platform/FileIo.h"
#include "platform/ProfileFile.h"
#include "platform/ResStrings.h"
#include "station/StationStrings.h"

#include <QStringList>
#include <algorithm>

namespace {

constexpr QByteArrayView kSection = "Geral";

// Senha is only scrambled, which anyone can undo: the file is its owner's alone.
constexpr unsigned kConfigFileMode = zv::kPrivateFileMode;

[[noreturn]] void RaiseWriteError(const std::filesystem::path& path)
{
    throw EProfileWriteError(
        zv::LoadResString(zv::SUnableToWrite).arg(QString::fromStdString(path.string())));
}

// Text the code page cannot hold would be stored as something else: refuse it rather than lose it.
QByteArray Ansi(const QString& text, const std::filesystem::path& path)
{
    auto bytes = zv::ToAnsiExact(text);
    if (!bytes) {
        RaiseWriteError(path);
    }
    return *bytes;
}

// What ends a line of the file, so that no value can hold it.
bool EndsLine(char32_t c)
{
    return c == 0 || c == '\r' || c == '\n';
}

// The characters of text that cfg.ini cannot keep, each once, for a message: printable ones quoted,
// control characters by their code. Empty when it keeps them all.
QString Unstorable(const QString& text)
{
    constexpr qsizetype kShown = 8;
    QStringList found;
    qsizetype more = 0;
    for (const char32_t c : QStringView(text).toUcs4()) {
        const QString character = QString::fromUcs4(&c, 1);
        if (!EndsLine(c) && zv::ToAnsiExact(character)) {
            continue;
        }
        const QString shown = c < 0x20
            ? QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper()
            : u'"' + character + u'"';
        if (found.contains(shown)) {
            continue;
        }
        if (found.size() < kShown) {
            found << shown;
        } else {
            ++more;
        }
    }
    return found.join(QStringLiteral(", ")) + (more > 0 ? QStringLiteral(", \u2026") : QString());
}

} // namespace

void CheckDialogFields(const TDialogSettings& values)
{
    for (const auto& [text, message] : { std::pair { &values.Radio, zv::SRadioNameNotStorable },
             std::pair { &values.Usuario, zv::SUserNameNotStorable } }) {
        if (const QString bad = Unstorable(*text); !bad.isEmpty()) {
            throw ESettingsFieldError(zv::LoadResString(message).arg(bad));
        }
    }
    const auto password = zv::ToAnsiExact(values.Senha);
    const QByteArray stored = password ? ScramblePassword(*password) : QByteArray();
    if (!password || std::any_of(stored.begin(), stored.end(), [](char c) { return EndsLine(uchar(c)); })) {
        throw ESettingsFieldError(zv::LoadResString(zv::SPasswordNotStorable));
    }
}

QByteArray ScramblePassword(const QByteArray& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        out[i] = static_cast<char>(
            static_cast<unsigned char>(PasswordKey - static_cast<unsigned char>(text[i]) - 1));
    }
    return out;
}

TConfigStore::TConfigStore(const std::filesystem::path& programFolder)
    : path_(programFolder / "cfg.ini")
{
}

TSettings DefaultSettings()
{
    TSettings s;
    s.Controle = QStringLiteral("0");
    s.Placa = QStringLiteral("0");
    s.Kbps = QStringLiteral("32000");
    s.Servidor = QString::fromLatin1(DefaultServidor);
    s.ServerDefault = QStringLiteral("ns1");
    s.iIdioma = -1;
    return s;
}

void TConfigStore::WriteDefaultSettings()
{
    const TSettings s = DefaultSettings();
    zv::WriteProfileStrings(path_, kSection,
        {
            { "Controle", s.Controle.toLatin1() },
            { "Usuario", s.Usuario.toLatin1() },
            { "Senha", ScramblePassword(s.Senha.toLatin1()) },
            { "Placa", s.Placa.toLatin1() },
            { "Radio", s.Radio.toLatin1() },
            { "Kbps", s.Kbps.toLatin1() },
            { "Servidor", s.Servidor.toLatin1() },
            { "ServerDefault", s.ServerDefault.toLatin1() },
            { "iIdioma", QByteArray::number(s.iIdioma) },
        },
        kConfigFileMode);
}

TSettings TConfigStore::LoadSettings()
{
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
        WriteDefaultSettings();
    }
    // A file that exists and cannot be read is reported, not taken for one without settings.
    const zv::ProfileFile file = zv::ProfileFile::Load(path_);
    const auto text = [&](const char* key) { return zv::FromAnsi(file.ReadString(kSection, key)); };
    TSettings s;
    s.Controle = text("Controle");
    s.Usuario = text("Usuario");
    s.Senha = zv::FromAnsi(ScramblePassword(file.ReadString(kSection, "Senha")));
    s.Placa = text("Placa");
    s.Radio = text("Radio");
    s.Kbps = text("Kbps");
    s.Servidor = text("Servidor");
    s.ServerDefault = text("ServerDefault");
    s.iIdioma = file.ReadInteger(kSection, "iIdioma", -1);
    return s;
}

void TConfigStore::WriteDialogSettings(const TDialogSettings& v)
{
    // A field the file cannot keep is the operator's to mend, not a fault of the disk.
    CheckDialogFields(v);
    zv::WriteProfileStrings(path_, kSection,
        {
            { "Placa", QByteArray::number(v.Placa) },
            { "Controle", QByteArray::number(v.Controle) },
            { "Usuario", Ansi(v.Usuario, path_) },
            { "Senha", ScramblePassword(Ansi(v.Senha, path_)) },
            { "Radio", Ansi(v.Radio, path_) },
            { "Kbps", Ansi(v.Kbps, path_) },
            { "iIdioma", QByteArray::number(v.iIdioma) },
        },
        kConfigFileMode);
}

void TConfigStore::WriteKbps(const QString& kbps)
{
    zv::WriteProfileStrings(path_, kSection, { { "Kbps", Ansi(kbps, path_) } }, kConfigFileMode);
}
