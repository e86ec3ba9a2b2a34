#pragma once

// The contract between the station controller and the streaming encoder.
//
// The encoder is an outside component: the controller only loads an encoding file into it, starts
// and stops it and reads its run state. Every call returns a result code; the controller raises a
// failing code as EEncoderError (see CheckResult), which ends the current step and reaches the
// application-wide error handler.
//
// Lifetime: one application object stands for one encoder. The controller creates a new one through
// CoEncoderApp for every start and drops the previous one without stopping it; dropping the last
// reference ends that encoder. The IEncoder is fetched anew from the application object before every
// call and is not kept.
//
// Threads: every call is made on the user-interface thread and is synchronous, so an implementation
// must answer within a bounded time (it reports a failure rather than block the user interface).

#include "encoder/EncoderShared.h"
#include "platform/Exception.h"

#include <QString>
#include <cstdint>
#include <memory>

// Result of an encoder call: zero or positive is success, negative (high bit set) is failure.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// The encoder could not be started (its executable is missing or refused to run).
inline constexpr HRESULT E_ENCODER_NOT_STARTED = static_cast<HRESULT>(0x80080005u);
// The encoder went away or stopped answering in time.
inline constexpr HRESULT E_ENCODER_GONE = static_cast<HRESULT>(0x80010108u);
// The encoding file could not be opened or is not a usable encoding file.
inline constexpr HRESULT E_ENCODING_FILE = static_cast<HRESULT>(0x80040200u);

constexpr bool Succeeded(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr)
{
    return hr < 0;
}

// Run states the controller acts on; other values are stored and change nothing.
namespace EncoderRunState {
inline constexpr std::int32_t Starting = zv::shared::kStateStarting;
inline constexpr std::int32_t Running = zv::shared::kStateRunning; // publishing
inline constexpr std::int32_t Stopping = zv::shared::kStateStopping;
// stopped, or the connection failed or was lost
inline constexpr std::int32_t Stopped = zv::shared::kStateStopped;
} // namespace EncoderRunState

// A failing encoder call. Code() is the call's result.
class EEncoderError : public Exception {
public:
    EEncoderError(const QString& message, HRESULT code)
        : Exception(message)
        , code_(code)
    {
    }
    const char* ClassName() const noexcept override { return "EEncoderError"; }
    HRESULT Code() const noexcept { return code_; }
    // The message with the code, "... (0x80004005)": for the log; the operator reads the message alone.
    QString MessageWithCode() const;

private:
    HRESULT code_;
};

// Short text for a result code, used in error messages.
QString ResultText(HRESULT hr);

// An implementation may describe its failure just before returning it; the next CheckResult on this
// thread takes the text (and clears it, on success too), so the error names the cause.
void SetEncoderErrorInfo(const QString& message);

// Raises EEncoderError when hr is a failure; operation names the call in the message, followed by the
// implementation's description when it gave one, else by a short text for the code. The code itself
// is the error's Code(), not part of its message.
void CheckResult(HRESULT hr, const char* operation);

// What an encoder tells about its stream besides the run state (see IEncoder::GetStreamDetails).
// Numbers that are not known are -1.
// What the encoder's recording of the air is doing.
enum class TRecordingState : std::int32_t { Off = 0, Recording = 1, PausedLowSpace = 2, Failing = 3 };

struct TStreamDetails {
    bool OnAir = false; // connected and publishing
    std::int64_t OnAirMs = 0; // time on the air since the current connection came up
    std::int64_t BytesSent = 0; // stream bytes that reached the server on the current connection
    QString Server; // "host:port" the stream goes to; empty before an encoding file is loaded
    QString Mount; // the publishing point, e.g. "/radio1"
    bool Tls = false; // the connection is made with TLS
    std::int32_t Listeners = -1; // of the publishing point, as the server counts them
    std::int32_t ListenerPeak = -1;
    QString Title; // the song title the server last took
    TRecordingState Recording = TRecordingState::Off;
    QString RecordingFolder; // where it records
};

class IEncoder {
public:
    virtual ~IEncoder() = default;

    // Loads the encoding file at path (full path): its source, title, server, publishing point and
    // audio profile become the encoder's.
    virtual HRESULT Load(const QString& path) = 0;
    // Begins encoding and publishing; the run state leaves Stopped.
    virtual HRESULT Start() = 0;
    // Ends encoding.
    virtual HRESULT Stop() = 0;
    // Made once when a poll has read Stopped; only success matters to the caller.
    virtual HRESULT AcknowledgeStopped() = 0;
    // The current run state (see EncoderRunState).
    virtual HRESULT GetRunState(std::int32_t& state) = 0;
    // Why the encoder last stopped by itself (a refused or lost connection, a failed input device, its
    // end), for the log; empty when it did not. Optional: an encoder that cannot tell keeps this one.
    virtual HRESULT GetStopReason(QString& reason)
    {
        reason.clear();
        return E_NOTIMPL;
    }
    // The stream's details, for the operator's display. Optional like GetStopReason. An encoder that
    // has ended is not on the air.
    virtual HRESULT GetStreamDetails(TStreamDetails& details)
    {
        details = {};
        return E_NOTIMPL;
    }
    // Takes the recording attributes of the encoding file at path (the loaded one, rewritten since)
    // without touching the stream. Optional: an encoder that cannot keeps this one, and the new
    // attributes take effect at its next start.
    virtual HRESULT ReloadRecording(const QString& path)
    {
        (void)path;
        return E_NOTIMPL;
    }
};

class IEncoderApp {
public:
    virtual ~IEncoderApp() = default;

    // The encoder of this application object. On success encoder is set and not null.
    virtual HRESULT GetEncoder(std::shared_ptr<IEncoder>& encoder) = 0;
};

// The one factory of application objects. The controller is given one: the program passes the
// real encoder's, tests pass a double.
class CoEncoderApp {
public:
    virtual ~CoEncoderApp() = default;

    // Creates a new application object (a new encoder). On success app is set and not null.
    virtual HRESULT Create(std::shared_ptr<IEncoderApp>& app) = 0;
};
