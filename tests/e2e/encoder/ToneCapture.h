#pragma once

#include "encoder/PcmCapture.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace zv::test {

// A 1 kHz tone in 20 ms blocks, paced like a sound card.
class ToneCapture : public zv::IPcmCapture {
public:
    ~ToneCapture() override { Stop(); }

    void Start(int sampleRate, int channels, Sink sink) override
    {
        running_ = true;
        thread_ = std::thread([this, sampleRate, channels, sink = std::move(sink)] {
            const int frames = sampleRate / 50;
            std::vector<std::int16_t> block(static_cast<std::size_t>(frames) * channels);
            long long position = 0;
            auto next = std::chrono::steady_clock::now();
            while (running_) {
                for (int i = 0; i < frames; ++i, ++position) {
                    const auto v = static_cast<std::int16_t>(
                        10000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(position) / sampleRate));
                    for (int c = 0; c < channels; ++c) {
                        block[static_cast<std::size_t>(i) * channels + c] = v;
                    }
                }
                sink(block.data(), frames);
                next += std::chrono::milliseconds(20);
                std::this_thread::sleep_until(next);
            }
        });
    }

    void Stop() override
    {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::atomic<bool> running_ {false};
    std::thread thread_;
};

} // namespace zv::test
