#include "encoder/EncoderProtocol.h"

#include <charconv>

namespace zv::protocol {

namespace {

void PutU32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint32_t GetU32(std::string_view in)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[static_cast<std::size_t>(i)]))
            << (8 * i);
    }
    return value;
}

std::string Frame(std::string payload)
{
    if (payload.size() > kMaxFrame) {
        payload.resize(kMaxFrame);
    }
    std::string out;
    out.reserve(payload.size() + 4);
    PutU32(out, static_cast<std::uint32_t>(payload.size()));
    out += payload;
    return out;
}

// A value stays on its line.
std::string OneLine(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return out;
}

template <typename Number> void ReadNumber(std::string_view text, Number& out)
{
    Number value {};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size()) {
        out = value;
    }
}

} // namespace

std::string EncodeStreamDetails(const StreamDetails& details)
{
    std::string out;
    const auto line = [&out](std::string_view key, std::string_view value) {
        out.append(key).append("=").append(OneLine(value)).append("\n");
    };
    line("on_air", details.onAir ? "1" : "0");
    line("on_air_ms", std::to_string(details.onAirMs));
    line("bytes_sent", std::to_string(details.bytesSent));
    line("server", details.server);
    line("mount", details.mount);
    line("tls", details.tls ? "1" : "0");
    line("listeners", std::to_string(details.listeners));
    line("listener_peak", std::to_string(details.listenerPeak));
    line("title", details.title);
    line("recording", std::to_string(details.recording));
    line("recording_folder", details.recordingFolder);
    return out;
}

StreamDetails DecodeStreamDetails(std::string_view text)
{
    StreamDetails details;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "on_air") {
            details.onAir = value == "1";
        } else if (key == "on_air_ms") {
            ReadNumber(value, details.onAirMs);
        } else if (key == "bytes_sent") {
            ReadNumber(value, details.bytesSent);
        } else if (key == "server") {
            details.server = value;
        } else if (key == "mount") {
            details.mount = value;
        } else if (key == "tls") {
            details.tls = value == "1";
        } else if (key == "listeners") {
            ReadNumber(value, details.listeners);
        } else if (key == "listener_peak") {
            ReadNumber(value, details.listenerPeak);
        } else if (key == "title") {
            details.title = value;
        } else if (key == "recording") {
            ReadNumber(value, details.recording);
        } else if (key == "recording_folder") {
            details.recordingFolder = value;
        }
    }
    return details;
}

std::string EncodeRequest(const Request& request)
{
    std::string payload(1, static_cast<char>(request.op));
    payload += request.text;
    return Frame(std::move(payload));
}

std::string EncodeReply(const Reply& reply)
{
    std::string payload;
    PutU32(payload, static_cast<std::uint32_t>(reply.result));
    PutU32(payload, static_cast<std::uint32_t>(reply.value));
    payload += reply.message;
    return Frame(std::move(payload));
}

std::optional<Request> DecodeRequest(std::string_view frame)
{
    if (frame.empty()) {
        return std::nullopt;
    }
    const auto op = static_cast<Op>(static_cast<unsigned char>(frame[0]));
    if (op < Op::Load || op > Op::Recording) {
        return std::nullopt;
    }
    return Request { op, std::string(frame.substr(1)) };
}

std::optional<Reply> DecodeReply(std::string_view frame)
{
    if (frame.size() < 8) {
        return std::nullopt;
    }
    Reply reply;
    reply.result = static_cast<std::int32_t>(GetU32(frame));
    reply.value = static_cast<std::int32_t>(GetU32(frame.substr(4)));
    reply.message = std::string(frame.substr(8));
    return reply;
}

std::optional<std::string> FrameReader::Next()
{
    if (broken_ || buffer_.size() < 4) {
        return std::nullopt;
    }
    const std::uint32_t length = GetU32(buffer_);
    if (length > kMaxFrame) {
        broken_ = true;
        buffer_.clear();
        return std::nullopt;
    }
    if (buffer_.size() < 4 + static_cast<std::size_t>(length)) {
        return std::nullopt;
    }
    std::string payload = buffer_.substr(4, length);
    buffer_.erase(0, 4 + static_cast<std::size_t>(length));
    return payload;
}

} // namespace zv::protocol
