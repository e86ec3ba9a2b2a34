#include "platform/AppError.h"

#include <cstdio>

namespace zv {

namespace {
ApplicationErrorHandler& Handler()
{
    static ApplicationErrorHandler handler;
    return handler;
}
} // namespace

void SetApplicationErrorHandler(ApplicationErrorHandler handler)
{
    Handler() = std::move(handler);
}

void HandleApplicationError(const std::exception& error) noexcept
{
    try {
        if (Handler()) {
            Handler()(error);
            return;
        }
    } catch (...) {
        // A handler that fails has nothing left to tell; the error goes to standard error below.
    }
    std::fprintf(stderr, "ZoVeva: unhandled error: %s\n", error.what());
}

} // namespace zv
