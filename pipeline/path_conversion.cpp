#include "path_conversion.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dorvane {
namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Appends the UTF-8 form of code at out[length]; false when it does not fit.
bool AppendUtf8(std::span<char> out, std::size_t& length, char32_t code) {
    char bytes[4];
    std::size_t count = 0;
    const auto put = [&](char32_t value) { bytes[count++] = static_cast<char>(value); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | (code >> 6));
        put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | (code >> 12));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | (code >> 18));
        put(0x80 | ((code >> 12) & 0x3F));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    }
    if (length + count >= out.size()) {
        return false;
    }
    std::copy_n(bytes, count, out.begin() + static_cast<std::ptrdiff_t>(length));
    length += count;
    return true;
}

} // namespace

PathConversion ConvertPath(const char16_t* path, std::span<char> destination) {
    if (path == nullptr || destination.empty()) {
        return PathConversion::Invalid;
    }
    std::size_t length = 0;
    for (const char16_t* unit = path; *unit != 0; ++unit) {
        char32_t code = *unit;
        if (IsHighSurrogate(*unit) && IsLowSurrogate(unit[1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit[1] - 0xDC00U);
            ++unit;
        } else if (IsHighSurrogate(*unit) || IsLowSurrogate(*unit)) {
            return PathConversion::Invalid;
        }
        if (!AppendUtf8(destination, length, code)) {
            return PathConversion::TooLong;
        }
    }
    destination[length] = '\0';
    return PathConversion::Converted;
}

} // namespace dorvane
