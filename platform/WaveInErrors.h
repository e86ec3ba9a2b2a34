#pragma once

#include <cstddef>

namespace zv::detail {

// Text of one of the service's own (positive) error codes: 0 and the text, or non-zero when the
// code is not one of them.
int StandardWaveErrorText(int Code, char* Text, std::size_t Size);

} // namespace zv::detail
