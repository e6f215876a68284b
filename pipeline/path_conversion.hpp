#pragma once

#include <span>

namespace dorvane {

enum class PathConversion { Converted, Invalid, TooLong };

// Converts a zero-terminated UTF-16 path to the platform's narrow encoding (UTF-8 here) and
// stores it, zero-terminated, in destination. A null path or an unpaired surrogate is Invalid; a
// result that does not fit, terminator included, is TooLong; destination then holds no
// usable path. Allocates nothing.
PathConversion ConvertPath(const char16_t* path, std::span<char> destination);

} // namespace dorvane
