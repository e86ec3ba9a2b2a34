#pragma once

// The streaming encoder as a separate zoveva-encoder process, behind the encoder contract. A new
// application object starts a new process; dropping the last reference to it ends that process.
// A crashing encoder therefore never takes the window down, and a dead one reads as stopped so the
// supervision restarts it.

#include "encoder/EncoderProtocol.h"
#include "station/EncoderContract.h"

#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sys/types.h>

namespace zv {

struct EncoderProcessOptions {
    std::filesystem::path executable;
    // Where the encoder writes its log (its standard error) and where its exit is recorded.
    std::filesystem::path logFile;
    // Bounds for the answer to one request; a process that misses one is ended and reads as stopped.
    std::chrono::milliseconds loadTimeout { 8000 };
    std::chrono::milliseconds startTimeout { 8000 };
    std::chrono::milliseconds callTimeout { 3000 };
    // Time a released process gets to close its stream before it is killed.
    std::chrono::milliseconds releaseTimeout { 6000 };
    // The log is moved aside to "<log>.1" when it grows beyond this at a start.
    std::uintmax_t logLimit = 1024 * 1024;
};

// The program's own options: the encoder in the encoder folder, its log beside the program.
EncoderProcessOptions DefaultEncoderProcessOptions();

// Waits until every released encoder process has ended and its end is in the log (each is killed when
// it misses its release timeout), or until `timeout` passes. The program calls it before it exits, so
// the last encoder's exit status is recorded. True when none is left.
bool WaitForReleasedEncoders(std::chrono::milliseconds timeout);

// One running zoveva-encoder and its control socket. Used from one thread (the user interface's),
// which must outlive it: the process is bound to that thread's life.
class EncoderProcess {
public:
    struct Answer {
        HRESULT result = S_OK;
        std::int32_t value = 0;
        QString message;
    };

    // Starts the process; on failure returns null and says why in `message`.
    static std::shared_ptr<EncoderProcess> Launch(const EncoderProcessOptions& options, QString& message);
    ~EncoderProcess();
    EncoderProcess(const EncoderProcess&) = delete;
    EncoderProcess& operator=(const EncoderProcess&) = delete;

    // One request and its answer. A process that is gone, or does not answer within `timeout`,
    // gives E_ENCODER_GONE (and is ended).
    Answer Call(protocol::Op op, const QString& text, std::chrono::milliseconds timeout);
    // False once the process has ended or stopped answering.
    bool Alive();
    // Why it is gone (how it ended, or what it failed to do); empty while it answers.
    const QString& GoneReason() const { return goneReason_; }
    pid_t Pid() const { return pid_; }
    const EncoderProcessOptions& Options() const { return options_; }

private:
    EncoderProcess(EncoderProcessOptions options, pid_t pid, int socket);
    void MarkGone(const QString& why, bool kill);
    bool Reap(bool block);

    EncoderProcessOptions options_;
    pid_t pid_;
    int socket_;
    bool reaped_ = false;
    QString goneReason_; // empty while the process answers
    QString exitText_; // how it ended, once reaped
    protocol::FrameReader reader_;
};

// IEncoderApp and IEncoder over one process. A failing call hands the encoder's message to
// SetEncoderErrorInfo, so the raised error says what went wrong.
class TEncoderProcessApp : public IEncoderApp {
public:
    explicit TEncoderProcessApp(std::shared_ptr<EncoderProcess> process);
    HRESULT GetEncoder(std::shared_ptr<IEncoder>& encoder) override;
    EncoderProcess& Process() { return *process_; }

private:
    std::shared_ptr<EncoderProcess> process_;
    std::shared_ptr<IEncoder> encoder_;
};

// The factory the program hands to the controller: every Create starts a new encoder process.
class TEncoderProcessFactory : public CoEncoderApp {
public:
    explicit TEncoderProcessFactory(EncoderProcessOptions options = DefaultEncoderProcessOptions());
    HRESULT Create(std::shared_ptr<IEncoderApp>& app) override;

private:
    EncoderProcessOptions options_;
};

} // namespace zv
