#include "encoder/ControlServer.h"

#include "encoder/EncoderLog.h"
#include "encoder/EncoderService.h"
#include "encoder/EncoderSettings.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace zv {

ControlServer::ControlServer(int fd, EncoderService& service, QObject* parent)
    : QObject(parent)
    , fd_(fd)
    , service_(service)
    , notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    // A client that stops reading must not freeze this process.
    timeval timeout { 5, 0 };
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    connect(notifier_, &QSocketNotifier::activated, this, &ControlServer::OnReadable);
}

ControlServer::~ControlServer()
{
    close(fd_);
}

void ControlServer::Close()
{
    if (closed_) {
        return;
    }
    closed_ = true;
    notifier_->setEnabled(false);
    emit closed();
}

void ControlServer::OnReadable()
{
    char buffer[4096];
    const ssize_t count = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        Close();
        return;
    }
    reader_.Append(std::string_view(buffer, static_cast<std::size_t>(count)));
    while (auto frame = reader_.Next()) {
        const auto request = protocol::DecodeRequest(*frame);
        const protocol::Reply reply
            = request ? Handle(*request) : protocol::Reply { protocol::kInvalidArg, 0, "Unknown request" };
        const std::string bytes = protocol::EncodeReply(reply);
        if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
            EncoderLog(QStringLiteral("the client stopped listening; ending"));
            Close();
            return;
        }
    }
    if (reader_.Broken()) {
        EncoderLog(QStringLiteral("malformed request from the client; ending"));
        Close();
    }
}

protocol::Reply ControlServer::Handle(const protocol::Request& request)
{
    using protocol::Op;
    const char* name = "";
    try {
        switch (request.op) {
        case Op::Load:
            name = "load";
            service_.Load(QString::fromUtf8(request.text));
            return {};
        case Op::Start:
            name = "start";
            service_.Start();
            return {};
        case Op::Stop:
            name = "stop";
            service_.Stop();
            return {};
        case Op::RunState:
            return { protocol::kOk, service_.RunState(), {} };
        case Op::Stopped:
            return {};
        case Op::StopReason:
            return { protocol::kOk, 0, service_.LastError().toStdString() };
        case Op::StreamDetails:
            return { protocol::kOk, 0, protocol::EncodeStreamDetails(service_.Details()) };
        case Op::Recording:
            name = "recording";
            service_.ReloadRecording(QString::fromUtf8(request.text));
            return {};
        }
    } catch (const EEncodingFileError& error) {
        EncoderLog(QStringLiteral("%1 failed: %2").arg(QString::fromUtf8(name), error.Message()));
        return { protocol::kEncodingFile, 0, error.what() };
    } catch (const Exception& error) {
        EncoderLog(QStringLiteral("%1 failed: %2").arg(QString::fromUtf8(name), error.Message()));
        return { protocol::kFail, 0, error.what() };
    } catch (const std::exception& error) {
        EncoderLog(
            QStringLiteral("%1 failed: %2").arg(QString::fromUtf8(name), QString::fromUtf8(error.what())));
        return { protocol::kFail, 0, error.what() };
    }
    return { protocol::kInvalidArg, 0, "Unknown request" };
}

} // namespace zv
