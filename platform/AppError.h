#pragma once

// The application-wide error handler. The program's application object installs it; components
// hand it the errors that happen away from any caller, such as in a change reported by the sound
// system, so that they are shown and logged like every other unhandled error.

#include <exception>
#include <functional>

namespace zv {

using ApplicationErrorHandler = std::function<void(const std::exception&)>;

// Replaces the handler; an empty one removes it. User-interface thread.
void SetApplicationErrorHandler(ApplicationErrorHandler handler);

// Hands the error to the handler, or writes it to standard error when there is none. Never throws.
void HandleApplicationError(const std::exception& error) noexcept;

} // namespace zv
