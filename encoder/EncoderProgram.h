#pragma once

#include "encoder/EncoderService.h"

namespace zv {

// Exit codes of zoveva-encoder.
constexpr int kExitOk = 0; // stopped on request
constexpr int kExitStreamEnded = 1; // the connection failed or was lost
constexpr int kExitUsage = 2;
constexpr int kExitLoadFailed = 3; // the encoding file or the device was refused

// From a terminal: streams the file until interrupted (SIGINT, SIGTERM, SIGHUP), printing its run
// states on standard output. Needs a QCoreApplication.
int RunStandalone(const QString& path, EncoderService::CaptureFactory factory);

// Under the client: serves requests on the control descriptor until the client releases it, dies
// or sends SIGTERM. Needs a QCoreApplication.
int RunControlled(int fd, EncoderService::CaptureFactory factory);

} // namespace zv
