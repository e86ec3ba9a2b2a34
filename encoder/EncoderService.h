#pragma once

#include "encoder/EncoderProtocol.h"
#include "encoder/StreamingEncoder.h"

#include <QObject>
#include <functional>
#include <memory>

namespace zv {

ZV_DECLARE_EXCEPTION(EEncoderServiceError, Exception);

// The encoder as the client drives it: load an encoding file, start, stop, read the run state.
// Lives on the thread that runs the Qt event loop.
class EncoderService : public QObject {
    Q_OBJECT
public:
    // Opens nothing yet: returns the capture for the named device, or raises when no device has that name.
    using CaptureFactory = std::function<std::unique_ptr<IPcmCapture>(const QString& deviceName)>;

    struct Options {
        StreamingEncoder::Options stream {};
    };

    explicit EncoderService(CaptureFactory factory, QObject* parent = nullptr);
    EncoderService(CaptureFactory factory, Options options, QObject* parent = nullptr);
    ~EncoderService() override;

    void Load(const QString& path);
    void Start();
    void Stop();
    int RunState() const;
    QString LastError() const;
    // The stream's details for the client: where it goes, and while on the air for how long, how much,
    // to how many listeners and with which song title.
    protocol::StreamDetails Details() const;
    // Takes the recording attributes of the encoding file at `path` (the one loaded, changed since)
    // and starts, changes or ends the recording without touching the stream.
    void ReloadRecording(const QString& path);
    // Stops and waits up to `timeout` for the stream to close. False when it did not close in time.
    bool Shutdown(std::chrono::milliseconds timeout);

signals:
    // Every change of the run state, with the reason of a failure, delivered on this object's thread.
    void stateChanged(int state, const QString& reason);

private:
    CaptureFactory factory_;
    Options options_;
    std::unique_ptr<StreamingEncoder> encoder_;
};

} // namespace zv
