#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Requests and replies between the client's encoder proxy and the zoveva-encoder process. Each
// frame is a 32-bit little-endian length followed by that many bytes; frames above kMaxFrame mean
// the peer is broken. Every request gets exactly one reply, in order.
namespace zv::protocol {

enum class Op : std::uint8_t {
    Load = 1, // text: full path of the encoding file
    Start = 2,
    Stop = 3,
    RunState = 4, // reply value: the run state
    Stopped = 5, // the client has seen state 5
    StopReason = 6, // reply message: why the stream last ended by itself; empty when it did not
};

// Result codes in the client's HRESULT style: zero or positive succeeds.
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);
constexpr std::int32_t kEncodingFile = static_cast<std::int32_t>(0x80040200u); // file unusable

constexpr std::uint32_t kMaxFrame = 64 * 1024;

// The control channel is this descriptor of the encoder process.
constexpr int kControlFd = 3;

struct Request {
    Op op {};
    std::string text;
};

struct Reply {
    std::int32_t result = kOk;
    std::int32_t value = 0;
    std::string message; // UTF-8; why a call failed
};

std::string EncodeRequest(const Request& request);
std::string EncodeReply(const Reply& reply);
std::optional<Request> DecodeRequest(std::string_view frame);
std::optional<Reply> DecodeReply(std::string_view frame);

// Cuts a byte stream into frames.
class FrameReader {
public:
    void Append(std::string_view bytes) { buffer_.append(bytes); }
    // The next whole frame's payload, if one has arrived.
    std::optional<std::string> Next();
    // A length beyond kMaxFrame was announced: the stream cannot be trusted any further.
    bool Broken() const { return broken_; }

private:
    std::string buffer_;
    bool broken_ = false;
};

} // namespace zv::protocol
