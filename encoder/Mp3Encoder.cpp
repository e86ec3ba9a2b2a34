#include "encoder/Mp3Encoder.h"

#include <QString>
#include <lame/lame.h>

namespace zv {

Mp3Encoder::Mp3Encoder(int sampleRate, int channels, int kbps, int quality)
    : channels_(channels)
{
    if (channels != 1 && channels != 2) {
        throw EMp3EncoderError(QStringLiteral("MP3 encoder: %1 channels are not supported").arg(channels));
    }
    lame_ = lame_init();
    if (lame_ == nullptr) {
        throw EMp3EncoderError("MP3 encoder: out of memory");
    }
    lame_set_in_samplerate(lame_, sampleRate);
    lame_set_out_samplerate(lame_, sampleRate);
    lame_set_num_channels(lame_, channels);
    lame_set_mode(lame_, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(lame_, vbr_off);
    lame_set_brate(lame_, kbps);
    lame_set_quality(lame_, quality);
    // A live stream has no end to seek back to, so no Xing/Info frame.
    lame_set_bWriteVbrTag(lame_, 0);
    if (lame_init_params(lame_) < 0 || lame_get_brate(lame_) != kbps
        || lame_get_out_samplerate(lame_) != sampleRate) {
        lame_close(lame_);
        throw EMp3EncoderError(QStringLiteral("MP3 encoder: %1 kbit/s at %2 Hz is not a valid setting")
                                   .arg(kbps)
                                   .arg(sampleRate));
    }
    // Worst case from the LAME documentation: 1.25 * samples + 7200 bytes.
    step_.resize(kMaxChunkFrames * 5 / 4 + 7200);
    out_.reserve(step_.size() * 2);
}

Mp3Encoder::~Mp3Encoder()
{
    lame_close(lame_);
}

std::span<const std::uint8_t> Mp3Encoder::Encode(const std::int16_t* interleaved, int frames)
{
    out_.clear();
    while (frames > 0) {
        const int chunk = frames < kMaxChunkFrames ? frames : kMaxChunkFrames;
        int written = 0;
        if (channels_ == 2) {
            // LAME's interleaved entry point takes a non-const pointer but only reads it.
            written = lame_encode_buffer_interleaved(
                lame_, const_cast<short*>(interleaved), chunk, step_.data(), static_cast<int>(step_.size()));
        } else {
            written = lame_encode_buffer(
                lame_, interleaved, nullptr, chunk, step_.data(), static_cast<int>(step_.size()));
        }
        if (written < 0) {
            throw EMp3EncoderError(QStringLiteral("MP3 encoder: LAME failed with code %1").arg(written));
        }
        out_.insert(out_.end(), step_.begin(), step_.begin() + written);
        interleaved += chunk * channels_;
        frames -= chunk;
    }
    return out_;
}

std::span<const std::uint8_t> Mp3Encoder::Flush()
{
    out_.clear();
    const int written = lame_encode_flush(lame_, step_.data(), static_cast<int>(step_.size()));
    if (written < 0) {
        throw EMp3EncoderError(QStringLiteral("MP3 encoder: LAME failed with code %1").arg(written));
    }
    out_.assign(step_.begin(), step_.begin() + written);
    return out_;
}

} // namespace zv
