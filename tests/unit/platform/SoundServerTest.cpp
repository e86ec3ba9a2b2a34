#include "platform/SoundServer.h"

#include "platform/EncoderFolder.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Binds a unix socket at path; listening makes it answer, otherwise it is a stale socket file.
int BindSocket(const std::filesystem::path& path, bool listening)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (listening) {
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    return fd;
}

} // namespace

TEST(SoundServer, OwnsTheDevicesOnlyWhenItsSocketAnswers)
{
    QTemporaryDir dir;
    const std::filesystem::path runtime = dir.path().toStdString();
    EXPECT_FALSE(zv::SoundServerOwnsDevices(runtime));

    std::filesystem::create_directory(runtime / "pulse");
    const int stale = BindSocket(runtime / "pulse" / "native", false);
    EXPECT_FALSE(zv::SoundServerOwnsDevices(runtime)) << "a socket nobody listens on";

    const int pipewire = BindSocket(runtime / "pipewire-0", true);
    EXPECT_TRUE(zv::SoundServerOwnsDevices(runtime));
    ::close(pipewire);
    ::close(stale);
}

TEST(EncoderFolder, IsTheProgramFolderUnlessTheEnvironmentNamesAnother)
{
    QTemporaryDir program;
    QTemporaryDir other;
    const std::filesystem::path programFolder = program.path().toStdString();
    ::unsetenv("ZOVEVA_ENCODER_DIR");
    EXPECT_EQ(zv::EncoderFolder(programFolder), programFolder);
    EXPECT_FALSE(zv::EncoderExecutableExists(programFolder));
    std::ofstream(programFolder / "zoveva-encoder").put('x');
    EXPECT_TRUE(zv::EncoderExecutableExists(programFolder));

    ::setenv("ZOVEVA_ENCODER_DIR", other.path().toUtf8().constData(), 1);
    EXPECT_EQ(zv::EncoderFolder(programFolder), std::filesystem::path(other.path().toStdString()));
    EXPECT_FALSE(zv::EncoderExecutableExists(programFolder));
    ::setenv("ZOVEVA_ENCODER_DIR", "", 1);
    EXPECT_TRUE(zv::EncoderExecutableExists(programFolder));
    ::unsetenv("ZOVEVA_ENCODER_DIR");
}
