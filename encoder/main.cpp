#include "encoder/EncoderProgram.h"
#include "encoder/EncoderProtocol.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

std::unique_ptr<zv::IPcmCapture> OpenCapture(const QString& deviceName)
{
    throw zv::EEncoderServiceError(QStringLiteral("Unknown input device \"%1\"").arg(deviceName));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--control") == 0) {
        return zv::RunControlled(zv::protocol::kControlFd, OpenCapture);
    }
    if (argc == 2 && argv[1][0] != '-') {
        return zv::RunStandalone(QString::fromLocal8Bit(argv[1]), OpenCapture);
    }
    std::fprintf(stderr,
        "usage: %s ENCODING-FILE   stream until interrupted, printing the run states\n"
        "       %s --control       serve the client on descriptor 3 (started by ZoVeva)\n",
        argv[0], argv[0]);
    return zv::kExitUsage;
}
