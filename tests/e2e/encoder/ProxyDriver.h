#pragma once

// Drives real encoder processes through the client's proxy, as the controller does (only faster).

#include "station/EncoderProcess.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <chrono>
#include <memory>
#include <thread>

namespace zv::test {

inline std::shared_ptr<IEncoder> Encoder(IEncoderApp& app)
{
    std::shared_ptr<IEncoder> encoder;
    CheckResult(app.GetEncoder(encoder), "get encoder");
    return encoder;
}

inline std::int32_t State(IEncoderApp& app)
{
    std::int32_t state = 0;
    CheckResult(Encoder(app)->GetRunState(state), "run state");
    return state;
}

// Creates, loads and starts, as the controller's start does.
inline std::shared_ptr<IEncoderApp> StartEncoder(const EncoderProcessOptions& options, const QString& file)
{
    TEncoderProcessFactory factory(options);
    std::shared_ptr<IEncoderApp> app;
    CheckResult(factory.Create(app), "create");
    CheckResult(Encoder(*app)->Load(file), "load");
    CheckResult(Encoder(*app)->Start(), "start");
    return app;
}

// Polls until the state is reached or the bound passes; the time it took.
inline std::chrono::milliseconds Until(IEncoderApp& app, std::int32_t state, std::chrono::milliseconds bound)
{
    const auto start = std::chrono::steady_clock::now();
    WaitUntil([&] { return State(app) == state; }, bound);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Polls `condition` every 100 ms until it holds or the bound passes; whether it held.
template <typename Condition> bool Eventually(Condition condition, std::chrono::milliseconds bound)
{
    return WaitUntil(condition, bound, std::chrono::milliseconds(100));
}

inline QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace zv::test
