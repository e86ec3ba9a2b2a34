#pragma once

// The configuration store: cfg.ini in the program folder, section [Geral], Windows-1252 text.

#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <filesystem>

// A settings field whose text cfg.ini cannot keep; the message names the field.
ZV_DECLARE_EXCEPTION(ESettingsFieldError, Exception);

// Key of ScramblePassword. With 32 the transform maps the printable range 0x20..0xFF onto itself
// (reversed), so a scrambled password never holds a control byte (NUL, tab, CR, LF) that a line of the
// file cannot carry; the few bytes that scramble to a blank or a quote are protected by the file's
// quoting when they stand at an end.
inline constexpr unsigned char PasswordKey = 32;

// Byte-wise (K - c - 1) mod 256: its own inverse, so it both hides and recovers the password.
QByteArray ScramblePassword(const QByteArray& text);

// Base domain of the station network's servers, written as the default Servidor.
inline constexpr const char* DefaultServidor = "varekradio.net.br";

// The configuration values as the controller holds them (Senha in plain text).
struct TSettings {
    QString Controle;
    QString Usuario;
    QString Senha;
    QString Placa;
    QString Radio;
    QString Kbps;
    QString Servidor;
    QString ServerDefault;
    int iIdioma = -1;
};

// What the settings dialog saves; -1 where nothing is selected.
struct TDialogSettings {
    int Placa = -1;
    int Controle = -1;
    QString Usuario;
    QString Senha; // plain; stored scrambled
    QString Radio;
    QString Kbps; // the controller's current Kbps
    int iIdioma = -1;
};

// The nine values a new cfg.ini gets (WriteDefaultSettings), as the controller holds them.
TSettings DefaultSettings();

// Refuses, naming the field, a radio name, user name or password that cfg.ini cannot keep as it is: a
// character Windows-1252 lacks, a NUL or line break (they end the file's line), a password character
// that scrambles into one of those. The names' message quotes what they cannot hold; the password's
// shows none of it. Raises ESettingsFieldError; checked in field order (radio, user, password).
void CheckDialogFields(const TDialogSettings& values);

class TConfigStore {
public:
    explicit TConfigStore(const std::filesystem::path& programFolder);

    std::filesystem::path Path() const { return path_; }

    // Writes the nine defaults. Raises EProfileWriteError ("Unable to write to <path>").
    void WriteDefaultSettings();
    // Creates the file with the defaults when it is missing, then reads every key: missing keys read
    // empty, iIdioma -1 when missing or not a number. Raises EProfileReadError when the file exists and
    // cannot be read (a folder, no read permission). The file is created readable by its owner only.
    TSettings LoadSettings();
    // The dialog's save: Placa, Controle, Usuario, Senha (scrambled), Radio, Kbps, iIdioma in one
    // replace of the file. Servidor and ServerDefault are never written here. A field cfg.ini cannot
    // keep raises ESettingsFieldError (CheckDialogFields) and nothing is written.
    void WriteDialogSettings(const TDialogSettings& values);
    // The bitrate limit of the account page.
    void WriteKbps(const QString& kbps);

private:
    std::filesystem::path path_;
};
