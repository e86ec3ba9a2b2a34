#pragma once

// A scripted stand-in for the encoder, for tests of whatever drives the encoder contract: run states in
// order (the last one repeats; with none queued, lastState is the steady one), the reason of the last
// stop, a failure result per call name, and a trace of the calls made. FakeFactory is what the station
// is given: every encoder it creates plays the same script.

#include "station/EncoderContract.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv::test {

struct EncoderScript {
    std::vector<std::string> calls;
    std::deque<std::int32_t> states;
    std::int32_t lastState = EncoderRunState::Stopped;
    QString stopReason;
    std::optional<TStreamDetails> details; // none: the encoder cannot tell
    std::map<std::string, HRESULT> failures;
    int created = 0;

    HRESULT Call(const std::string& name)
    {
        calls.push_back(name);
        const auto failure = failures.find(name);
        return failure == failures.end() ? S_OK : failure->second;
    }
    int Count(const std::string& name) const
    {
        return static_cast<int>(std::count(calls.begin(), calls.end(), name));
    }
};

class FakeEncoder final : public IEncoder {
public:
    explicit FakeEncoder(EncoderScript& script)
        : script_(script)
    {
    }
    HRESULT Load(const QString& path) override
    {
        loaded = path;
        return script_.Call("Load");
    }
    HRESULT Start() override { return script_.Call("Start"); }
    HRESULT Stop() override { return script_.Call("Stop"); }
    HRESULT AcknowledgeStopped() override { return script_.Call("AcknowledgeStopped"); }
    HRESULT GetRunState(std::int32_t& state) override
    {
        const HRESULT hr = script_.Call("GetRunState");
        if (Succeeded(hr)) {
            if (!script_.states.empty()) {
                script_.lastState = script_.states.front();
                script_.states.pop_front();
            }
            state = script_.lastState;
        }
        return hr;
    }
    HRESULT GetStopReason(QString& reason) override
    {
        const HRESULT hr = script_.Call("GetStopReason");
        reason = Succeeded(hr) ? script_.stopReason : QString();
        return hr;
    }
    HRESULT GetStreamDetails(TStreamDetails& details) override
    {
        const HRESULT hr = script_.Call("GetStreamDetails");
        if (!script_.details) {
            return IEncoder::GetStreamDetails(details);
        }
        details = Succeeded(hr) ? *script_.details : TStreamDetails {};
        return hr;
    }
    HRESULT ReloadRecording(const QString& path) override
    {
        reloaded = path;
        return script_.Call("ReloadRecording");
    }
    QString loaded;
    QString reloaded;

private:
    EncoderScript& script_;
};

class FakeApp final : public IEncoderApp {
public:
    explicit FakeApp(EncoderScript& script)
        : script_(script)
        , encoder_(std::make_shared<FakeEncoder>(script))
    {
    }
    HRESULT GetEncoder(std::shared_ptr<IEncoder>& encoder) override
    {
        encoder = encoder_;
        return script_.Call("GetEncoder");
    }

private:
    EncoderScript& script_;
    std::shared_ptr<FakeEncoder> encoder_;
};

class FakeFactory final : public CoEncoderApp {
public:
    explicit FakeFactory(EncoderScript& script)
        : script_(script)
    {
    }
    HRESULT Create(std::shared_ptr<IEncoderApp>& app) override
    {
        const HRESULT hr = script_.Call("Create");
        if (Succeeded(hr)) {
            ++script_.created;
            app = std::make_shared<FakeApp>(script_);
        }
        return hr;
    }

private:
    EncoderScript& script_;
};

} // namespace zv::test
