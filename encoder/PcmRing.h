#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zv {

// Hands interleaved 16-bit frames from the capture thread to the streaming thread. The writer never
// waits: when the reader falls behind, the oldest frames are dropped and counted. Storage is
// allocated once.
class PcmRing {
public:
    PcmRing(int channels, int capacityFrames)
        : channels_(channels)
        , capacity_(capacityFrames)
        , samples_(static_cast<std::size_t>(capacityFrames) * channels)
    {
    }

    // Capture thread.
    void Write(const std::int16_t* interleaved, int frames)
    {
        {
            std::lock_guard lock(mutex_);
            if (frames > capacity_) {
                dropped_ += frames - capacity_;
                interleaved += static_cast<std::size_t>(frames - capacity_) * channels_;
                frames = capacity_;
            }
            const int overflow = count_ + frames - capacity_;
            if (overflow > 0) {
                dropped_ += overflow;
                head_ = (head_ + overflow) % capacity_;
                count_ -= overflow;
            }
            int tail = (head_ + count_) % capacity_;
            int left = frames;
            while (left > 0) {
                const int run = std::min(left, capacity_ - tail);
                std::copy_n(interleaved, static_cast<std::size_t>(run) * channels_,
                    samples_.begin() + static_cast<std::ptrdiff_t>(tail) * channels_);
                interleaved += static_cast<std::size_t>(run) * channels_;
                left -= run;
                tail = (tail + run) % capacity_;
            }
            count_ += frames;
            ++writes_;
        }
        ready_.notify_one();
    }

    // Streaming thread: waits up to `timeout` for frames, then copies at most `maxFrames` of them.
    int Read(std::int16_t* interleaved, int maxFrames, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return count_ > 0 || woken_; });
        woken_ = false;
        const int frames = std::min(count_, maxFrames);
        int left = frames;
        while (left > 0) {
            const int run = std::min(left, capacity_ - head_);
            std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(head_) * channels_,
                static_cast<std::size_t>(run) * channels_, interleaved);
            interleaved += static_cast<std::size_t>(run) * channels_;
            left -= run;
            head_ = (head_ + run) % capacity_;
        }
        count_ -= frames;
        return frames;
    }

    void Clear()
    {
        std::lock_guard lock(mutex_);
        head_ = 0;
        count_ = 0;
    }

    // Ends a pending Read early.
    void Wake()
    {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        ready_.notify_one();
    }

    std::uint64_t Dropped() const
    {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

    // Number of Write calls so far; lets the reader tell a silent device from a slow one.
    std::uint64_t Writes() const
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }

private:
    const int channels_;
    const int capacity_;
    // All below guarded by mutex_; written by both threads.
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::int16_t> samples_;
    int head_ = 0;
    int count_ = 0;
    bool woken_ = false;
    std::uint64_t dropped_ = 0;
    std::uint64_t writes_ = 0;
};

} // namespace zv
