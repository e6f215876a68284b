#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorvane::cli {

// The UTF-16 form of a UTF-8 string, or nothing when the bytes are not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

} // namespace dorvane::cli
