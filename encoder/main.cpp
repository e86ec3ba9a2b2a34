#include "audio/MMWavIn.h"
#include "encoder/EncoderProgram.h"
#include "encoder/EncoderProtocol.h"
#include "encoder/EncoderStrings.h"
#include "encoder/WaveInCapture.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

std::unique_ptr<zv::IPcmCapture> OpenCapture(const QString& deviceName)
{
    return zv::WaveInCapture::ForDevice(deviceName);
}

} // namespace

int main(int argc, char** argv)
{
    zv::RegisterEncoderStrings();
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--control") == 0) {
        return zv::RunControlled(zv::protocol::kControlFd, OpenCapture);
    }
    if (argc == 2 && std::strcmp(argv[1], "--list-devices") == 0) {
        // Whole, as the settings window lists them and an encoding file names them.
        for (const QString& name : TMMWaveIn::FullDeviceNames()) {
            std::printf("%s\n", name.toLocal8Bit().constData());
        }
        return 0;
    }
    if (argc == 2 && argv[1][0] != '-') {
        return zv::RunStandalone(QString::fromLocal8Bit(argv[1]), OpenCapture);
    }
    std::fprintf(stderr,
        "usage: %s ENCODING-FILE   stream until interrupted, printing the run states\n"
        "       %s --list-devices  print the input devices, one name a line\n"
        "       %s --control       serve the client on descriptor 3 (started by ZoVeva)\n",
        argv[0], argv[0], argv[0]);
    return zv::kExitUsage;
}
