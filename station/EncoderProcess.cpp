#include "station/EncoderProcess.h"

#include "platform/ProgramFolder.h"
#include "platform/ResStrings.h"
#include "station/EncoderFolder.h"
#include "station/StationStrings.h"

#include <QDateTime>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zv {

namespace {

static_assert(protocol::kOk == S_OK && protocol::kFail == E_FAIL && protocol::kInvalidArg == E_INVALIDARG
    && protocol::kUnexpected == E_UNEXPECTED && protocol::kEncodingFile == E_ENCODING_FILE);

// Appends one line to the encoder's log, beside what the encoder writes there itself.
void LogLine(const std::filesystem::path& log, const std::string& text)
{
    const std::string line
        = QStringLiteral("%1 ZoVeva[%2]: ")
              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
              .arg(getpid())
              .toStdString()
        + text + "\n";
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    [[maybe_unused]] const auto written = write(fd, line.data(), line.size());
    close(fd);
}

std::string ExitText(int status)
{
    if (WIFEXITED(status)) {
        return "exit code " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        const char* name = strsignal(WTERMSIG(status));
        return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" + (name ? name : "?") + ")";
    }
    return "status " + std::to_string(status);
}

// Keeps a log that runs for days at a bounded size: one older generation is kept.
void RotateLog(const std::filesystem::path& log, std::uintmax_t limit)
{
    std::error_code ec;
    if (std::filesystem::file_size(log, ec) > limit && !ec) {
        std::filesystem::rename(log, log.string() + ".1", ec);
    }
}

// Moves a descriptor to 10 or above so the child can lay out 0 to 4 without clobbering it.
int Lift(int fd)
{
    if (fd < 0) {
        return fd;
    }
    const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return lifted;
}

// Released processes whose end is still awaited by a helper thread.
struct PendingReleases {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0; // guarded by mutex
};

PendingReleases& Releases()
{
    // Never destroyed: a helper thread may still finish while the program's statics go away.
    static auto* releases = new PendingReleases;
    return *releases;
}

// The encoder's own words go into the error the caller raises.
HRESULT Fail(const EncoderProcess::Answer& answer)
{
    SetEncoderErrorInfo(answer.message);
    return answer.result;
}

class TEncoderProcessEncoder : public IEncoder {
public:
    explicit TEncoderProcessEncoder(std::shared_ptr<EncoderProcess> process)
        : process_(std::move(process))
    {
    }

    HRESULT Load(const QString& path) override
    {
        return Check(process_->Call(protocol::Op::Load, path, process_->Options().loadTimeout));
    }

    HRESULT Start() override
    {
        return Check(process_->Call(protocol::Op::Start, {}, process_->Options().startTimeout));
    }

    // A process that has ended is as stopped as it gets.
    HRESULT Stop() override { return Tolerant(protocol::Op::Stop); }
    HRESULT AcknowledgeStopped() override { return Tolerant(protocol::Op::Stopped); }

    HRESULT GetRunState(std::int32_t& state) override
    {
        // A dead encoder reads as stopped, so the supervision restarts it instead of failing each poll.
        if (!process_->Alive()) {
            state = EncoderRunState::Stopped;
            return S_OK;
        }
        const auto answer = process_->Call(protocol::Op::RunState, {}, process_->Options().callTimeout);
        if (answer.result == E_ENCODER_GONE) {
            state = EncoderRunState::Stopped;
            return S_OK;
        }
        if (Failed(answer.result)) {
            return Fail(answer);
        }
        state = answer.value;
        return S_OK;
    }

    HRESULT GetStopReason(QString& reason) override
    {
        // A process that died says nothing itself: how it ended is the reason.
        if (!process_->Alive()) {
            reason = process_->GoneReason();
            return S_OK;
        }
        const auto answer = process_->Call(protocol::Op::StopReason, {}, process_->Options().callTimeout);
        if (answer.result == E_ENCODER_GONE) {
            reason = process_->GoneReason();
            return S_OK;
        }
        if (Failed(answer.result)) {
            return Fail(answer);
        }
        reason = answer.message;
        return S_OK;
    }

    HRESULT GetStreamDetails(TStreamDetails& details) override
    {
        details = {};
        if (!process_->Alive()) {
            return S_OK;
        }
        const auto answer = process_->Call(protocol::Op::StreamDetails, {}, process_->Options().callTimeout);
        if (answer.result == E_ENCODER_GONE) {
            return S_OK;
        }
        if (Failed(answer.result)) {
            return Fail(answer);
        }
        const protocol::StreamDetails read = protocol::DecodeStreamDetails(answer.message.toStdString());
        details.OnAir = read.onAir;
        details.OnAirMs = read.onAirMs;
        details.BytesSent = read.bytesSent;
        details.Server = QString::fromStdString(read.server);
        details.Mount = QString::fromStdString(read.mount);
        details.Tls = read.tls;
        details.Listeners = read.listeners;
        details.ListenerPeak = read.listenerPeak;
        details.Title = QString::fromStdString(read.title);
        details.Recording
            = static_cast<TRecordingState>(read.recording >= 0 && read.recording <= 3 ? read.recording : 0);
        details.RecordingFolder = QString::fromStdString(read.recordingFolder);
        return S_OK;
    }

    HRESULT ReloadRecording(const QString& path) override
    {
        if (!process_->Alive()) {
            return E_ENCODER_GONE;
        }
        return Check(process_->Call(protocol::Op::Recording, path, process_->Options().callTimeout));
    }

private:
    static HRESULT Check(const EncoderProcess::Answer& answer)
    {
        return Failed(answer.result) ? Fail(answer) : answer.result;
    }

    HRESULT Tolerant(protocol::Op op)
    {
        if (!process_->Alive()) {
            return S_OK;
        }
        const auto answer = process_->Call(op, {}, process_->Options().callTimeout);
        return answer.result == E_ENCODER_GONE ? S_OK : Check(answer);
    }

    std::shared_ptr<EncoderProcess> process_;
};

} // namespace

EncoderProcessOptions DefaultEncoderProcessOptions()
{
    EncoderProcessOptions options;
    const std::filesystem::path program = ProgramFolder();
    options.executable = EncoderFolder(program) / EncoderExecutableName;
    options.logFile = program / "zoveva-encoder.log";
    return options;
}

bool WaitForReleasedEncoders(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(Releases().mutex);
    return Releases().ended.wait_for(lock, timeout, [] { return Releases().count == 0; });
}

std::shared_ptr<EncoderProcess> EncoderProcess::Launch(const EncoderProcessOptions& options, QString& message)
{
    RotateLog(options.logFile, options.logLimit);
    int log = open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        // An unwritable program folder costs the log, not the stream.
        log = open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    int pair[2] = { -1, -1 };
    int status[2] = { -1, -1 };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0 || pipe2(status, O_CLOEXEC) != 0) {
        message = zv::LoadResString(zv::SCannotStartEncoder).arg(QString::fromLocal8Bit(strerror(errno)));
        for (int fd : { log, pair[0], pair[1], status[0], status[1] }) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return nullptr;
    }
    const int childLog = Lift(log);
    const int childSocket = Lift(pair[1]);
    const int childStatus = Lift(status[1]);
    const int childInput = Lift(open("/dev/null", O_RDONLY | O_CLOEXEC));

    // Everything the child needs is prepared here: after fork only async-signal-safe calls are allowed.
    std::string executable = options.executable.string();
    std::string flag = "--control";
    char* argv[] = { executable.data(), flag.data(), nullptr };
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Ends the encoder with us, even when we are killed outright.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : { SIGINT, SIGTERM, SIGHUP, SIGPIPE }) {
            signal(sig, SIG_DFL);
        }
        dup2(childInput, 0);
        dup2(childLog, 1);
        dup2(childLog, 2);
        dup2(childSocket, protocol::kControlFd);
        dup3(childStatus, 4, O_CLOEXEC);
        if (close_range(5, ~0U, 0) != 0) {
            for (int fd = 5; fd < 1024; ++fd) {
                close(fd);
            }
        }
        execv(argv[0], argv);
        const int error = errno;
        [[maybe_unused]] const auto written = write(4, &error, sizeof error);
        _exit(127);
    }
    const int forkError = errno;
    for (int fd : { childLog, childSocket, childStatus, childInput }) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (pid < 0) {
        close(status[0]);
        close(pair[0]);
        message = zv::LoadResString(zv::SCannotStartEncoder).arg(QString::fromLocal8Bit(strerror(forkError)));
        return nullptr;
    }
    // The status pipe closes on a successful exec; otherwise it carries the exec's errno.
    int execError = 0;
    ssize_t got = 0;
    do {
        got = read(status[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    close(status[0]);
    if (got == sizeof execError) {
        int ignored = 0;
        waitpid(pid, &ignored, 0);
        close(pair[0]);
        message = zv::LoadResString(zv::SCannotStartEncoderFile)
                      .arg(QString::fromStdString(executable), QString::fromLocal8Bit(strerror(execError)));
        LogLine(options.logFile, message.toStdString());
        return nullptr;
    }
    LogLine(options.logFile, "encoder process " + std::to_string(pid) + " started");
    return std::shared_ptr<EncoderProcess>(new EncoderProcess(options, pid, pair[0]));
}

EncoderProcess::EncoderProcess(EncoderProcessOptions options, pid_t pid, int socket)
    : options_(std::move(options))
    , pid_(pid)
    , socket_(socket)
{
}

EncoderProcess::~EncoderProcess()
{
    // The end of the socket tells the encoder to close its stream and end.
    close(socket_);
    if (reaped_) {
        return;
    }
    // Waiting for it would hold up the user interface: a helper thread sees it out.
    {
        std::lock_guard lock(Releases().mutex);
        ++Releases().count;
    }
    std::thread([pid = pid_, log = options_.logFile, timeout = options_.releaseTimeout] {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::string note;
        if (done == 0) {
            kill(pid, SIGKILL);
            done = waitpid(pid, &status, 0);
            note = " after it missed its time to end";
        }
        LogLine(log,
            "encoder process " + std::to_string(pid)
                + " released: " + (done == pid ? ExitText(status) : std::string("ended")) + note);
        std::lock_guard lock(Releases().mutex);
        --Releases().count;
        Releases().ended.notify_all();
    }).detach();
}

bool EncoderProcess::Reap(bool block)
{
    if (reaped_) {
        return true;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done == 0) {
        return false;
    }
    reaped_ = true;
    const std::string how = done == pid_ ? ExitText(status) : std::string("ended");
    exitText_ = QString::fromStdString(how);
    LogLine(options_.logFile, "encoder process " + std::to_string(pid_) + " ended: " + how);
    if (goneReason_.isEmpty()) {
        goneReason_ = zv::LoadResString(zv::SEncoderEndedHow).arg(QString::fromStdString(how));
    }
    return true;
}

void EncoderProcess::MarkGone(const QString& why, bool killIt)
{
    if (goneReason_.isEmpty()) {
        goneReason_ = why;
        LogLine(options_.logFile, "encoder process " + std::to_string(pid_) + ": " + why.toStdString());
    }
    if (killIt && !reaped_) {
        kill(pid_, SIGKILL);
        Reap(true);
        return;
    }
    // A process whose socket closed is on its way out; give it a moment so its exit is recorded now.
    for (int i = 0; i < 25 && !Reap(false); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (reaped_ && !goneReason_.contains(exitText_)) {
        goneReason_ += QStringLiteral(" (%1)").arg(exitText_);
    }
}

bool EncoderProcess::Alive()
{
    if (!goneReason_.isEmpty()) {
        return false;
    }
    if (Reap(false)) {
        return false;
    }
    return true;
}

EncoderProcess::Answer EncoderProcess::Call(
    protocol::Op op, const QString& text, std::chrono::milliseconds timeout)
{
    if (!Alive()) {
        return { E_ENCODER_GONE, 0, goneReason_ };
    }
    const std::string request = protocol::EncodeRequest({ op, text.toStdString() });
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(socket_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            MarkGone(zv::LoadResString(zv::SEncoderStoppedTaking), true);
            return { E_ENCODER_GONE, 0, goneReason_ };
        }
        sent += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto frame = reader_.Next()) {
            const auto reply = protocol::DecodeReply(*frame);
            if (!reply) {
                MarkGone(zv::LoadResString(zv::SEncoderMalformedAnswer), true);
                return { E_ENCODER_GONE, 0, goneReason_ };
            }
            return { reply->result, reply->value, QString::fromUtf8(reply->message) };
        }
        if (reader_.Broken()) {
            MarkGone(zv::LoadResString(zv::SEncoderMalformedAnswer), true);
            return { E_ENCODER_GONE, 0, goneReason_ };
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait { socket_, POLLIN, 0 };
        const int ready = left.count() > 0 ? poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            MarkGone(zv::LoadResString(zv::SEncoderNoAnswerWithin).arg(timeout.count() / 1000.0), true);
            return { E_ENCODER_GONE, 0, goneReason_ };
        }
        char buffer[4096];
        const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            MarkGone(zv::LoadResString(zv::SEncoderEnded), false);
            return { E_ENCODER_GONE, 0, goneReason_ };
        }
        reader_.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
}

TEncoderProcessApp::TEncoderProcessApp(std::shared_ptr<EncoderProcess> process)
    : process_(std::move(process))
    , encoder_(std::make_shared<TEncoderProcessEncoder>(process_))
{
}

HRESULT TEncoderProcessApp::GetEncoder(std::shared_ptr<IEncoder>& encoder)
{
    encoder = encoder_;
    return S_OK;
}

TEncoderProcessFactory::TEncoderProcessFactory(EncoderProcessOptions options)
    : options_(std::move(options))
{
}

HRESULT TEncoderProcessFactory::Create(std::shared_ptr<IEncoderApp>& app)
{
    QString message;
    auto process = EncoderProcess::Launch(options_, message);
    if (!process) {
        SetEncoderErrorInfo(message);
        return E_ENCODER_NOT_STARTED;
    }
    app = std::make_shared<TEncoderProcessApp>(std::move(process));
    return S_OK;
}

} // namespace zv
