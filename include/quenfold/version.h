// The library's version, from the same constants as the C header's macros.
#pragma once

#include <string_view>

#include "quenfold_log_version.h"

namespace quenfold {

// "major.minor.patch" of the headers in use, for example "0.1.0".
constexpr std::string_view version() noexcept { return QUENFOLD_LOG_VERSION_STRING; }

inline constexpr int version_major = QUENFOLD_LOG_VERSION_MAJOR;
inline constexpr int version_minor = QUENFOLD_LOG_VERSION_MINOR;
inline constexpr int version_patch = QUENFOLD_LOG_VERSION_PATCH;

}  // namespace quenfold
