#pragma once
// The stream's details for the operator: what the encoder tells besides its run state, as one line
// for the hint of LStatus and the tray icon's tooltip, and the log entry of each connection that ends.
// No window: the controller polls it with its status poll.
#include "station/EncoderContract.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

// "01:02:03"; past 99 hours the hours simply grow.
QString OnAirTimeText(std::int64_t ms);
// "14.2 MB" (decimal megabytes, one decimal), "850 kB" below one megabyte.
QString SentBytesText(std::int64_t bytes);

// The hint: the status text, then, as far as they are known, the server and publishing point, the time
// on the air, the bytes sent, the listeners and the song title, and where the recording of the air
// goes while there is one, separated by " — ".
QString StreamDetailsText(const QString& statusText, const TStreamDetails& details);

// Follows the details poll by poll and tells when a connection ended, with what it last showed.
class TStreamDetailsWatch {
public:
    using LogLine = std::function<void(const QString& description)>;

    // Asks the encoder of app (null: none) for its details; an encoder that cannot tell gives none.
    // Logs the end of a connection seen on the air before; returns the hint for statusText.
    QString Poll(IEncoderApp* app, const QString& statusText, const LogLine& log);

    // The details of the last poll.
    const TStreamDetails& Last() const { return last_; }

private:
    TStreamDetails last_;
    std::optional<TStreamDetails> onAir_; // the last details seen on the air, while on the air
    const IEncoderApp* app_ = nullptr; // whose connection onAir_ is
};
