#pragma once

#include <string_view>

namespace dorvane::cli {

// Whether text is valid UTF-8, the encoding that the library's paths are in.
bool IsUtf8(std::string_view text);

} // namespace dorvane::cli
