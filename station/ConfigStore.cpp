#include "station/ConfigStore.h"

#include "platform/Ansi.h"
#include "platform/FileIo.h"
#include "platform/ProfileFile.h"
#include "platform/ResStrings.h"

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

} // namespace

QByteArray ScramblePassword(const QByteArray& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        out[i] = static_cast<char>(
            static_cast<unsigned char>(PasswordKey - static_cast<unsigned char>(text[i]) - 1));
    }
    return out;
}

TConfigStore::TConfigStore(std::filesystem::path programFolder)
    : path_(std::move(programFolder) / "cfg.ini")
{
}

void TConfigStore::WriteDefaultSettings()
{
    zv::WriteProfileStrings(path_, kSection,
        {
            { "Controle", "0" },
            { "Usuario", "" },
            { "Senha", "" },
            { "Placa", "0" },
            { "Radio", "" },
            { "Kbps", "32000" },
            { "Servidor", DefaultServidor },
            { "ServerDefault", "ns1" },
            { "iIdioma", "-1" },
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
