// Stands in for the client in tests that kill it: starts an encoder process through the proxy,
// prints its process id and waits to be killed.
#include "station/EncoderProcess.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ENCODER LOG\n", argv[0]);
        return 2;
    }
    zv::EncoderProcessOptions options;
    options.executable = argv[1];
    options.logFile = argv[2];
    QString message;
    const auto process = zv::EncoderProcess::Launch(options, message);
    if (!process) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%d\n", process->Pid());
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
