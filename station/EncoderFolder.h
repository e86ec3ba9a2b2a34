#pragma once

#include <filesystem>

namespace zv {

// File name of the streaming encoder's executable.
inline constexpr const char* EncoderExecutableName = "zoveva-encoder";

// Folder of the encoder's executable: the folder named by the environment variable ZOVEVA_ENCODER_DIR
// when it is set and not empty, otherwise programFolder.
std::filesystem::path EncoderFolder(const std::filesystem::path& programFolder);

// The encoder executable check: whether a file named zoveva-encoder exists in the encoder folder.
bool EncoderExecutableExists(const std::filesystem::path& programFolder);

} // namespace zv
