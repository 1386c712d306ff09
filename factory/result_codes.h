// Result codes of every interface operation except addRef and release.
#pragma once

#include <cstdint>

namespace gmpi {

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFailed = -1;
constexpr int32_t kResultUnsupported = -2;

} // namespace gmpi
