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
    StreamDetails = 7, // reply message: the stream's details (EncodeStreamDetails)
    // text: full path of the encoding file, whose recording attributes take effect now; the stream
    // goes on untouched
    Recording = 8,
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

// What the encoder tells about its stream besides the run state. Numbers that are not known are -1.
struct StreamDetails {
    bool onAir = false; // publishing now
    std::int64_t onAirMs = 0; // time on the air since the current connection came up
    std::int64_t bytesSent = 0; // stream bytes that reached the server on the current connection
    std::string server; // "host:port" ("[v6]:port"), once an encoding file is loaded
    std::string mount; // e.g. "/radio1"
    bool tls = false; // the connection is made with TLS
    std::int32_t listeners = -1; // of our mount, from the server's status page
    std::int32_t listenerPeak = -1;
    std::string title; // the song title the server last took; UTF-8
    // The recording of what goes on the air: 0 off, 1 recording, 2 paused (disk below its floor),
    // 3 failing (the folder cannot be written). UTF-8 folder.
    std::int32_t recording = 0;
    std::string recordingFolder;
};

// One "key=value" line per field; a reader ignores keys it does not know and keeps the defaults for
// values it cannot read, so either side may add fields.
std::string EncodeStreamDetails(const StreamDetails& details);
StreamDetails DecodeStreamDetails(std::string_view text);

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
