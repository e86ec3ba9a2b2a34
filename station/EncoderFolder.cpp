#include "station/EncoderFolder.h"

#include <cstdlib>
#include <system_error>

namespace zv {

std::filesystem::path EncoderFolder(const std::filesystem::path& programFolder)
{
    const char* dir = std::getenv("ZOVEVA_ENCODER_DIR");
    if (dir && *dir) {
        return std::filesystem::path(dir);
    }
    return programFolder;
}

bool EncoderExecutableExists(const std::filesystem::path& programFolder)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(EncoderFolder(programFolder) / EncoderExecutableName, ec);
}

} // namespace zv
