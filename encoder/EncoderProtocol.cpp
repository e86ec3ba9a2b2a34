#include "encoder/EncoderProtocol.h"

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

} // namespace

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
    if (op < Op::Load || op > Op::StopReason) {
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
