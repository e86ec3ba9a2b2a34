#include "station/EncoderFolder.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

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
