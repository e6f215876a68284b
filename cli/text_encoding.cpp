#include "text_encoding.hpp"

#include <cstdint>

namespace dorvane::cli {
namespace {

// Decodes one code point starting at text[index] and advances index; nothing on invalid input
// (bad lead or continuation bytes, overlong forms, surrogates, values beyond U+10FFFF).
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& index) {
    const auto lead = static_cast<std::uint8_t>(text[index++]);
    if (lead < 0x80) {
        return lead;
    }
    std::size_t extra = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, code = lead & 0x1FU, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, code = lead & 0x0FU, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, code = lead & 0x07U, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < extra; ++i) {
        if (index >= text.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<std::uint8_t>(text[index++]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        code = (code << 6) | (next & 0x3FU);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return std::nullopt;
    }
    return code;
}

} // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string result;
    for (std::size_t index = 0; index < text.size();) {
        const auto code = DecodeUtf8(text, index);
        if (!code) {
            return std::nullopt;
        }
        if (*code < 0x10000) {
            result.push_back(static_cast<char16_t>(*code));
        } else {
            result.push_back(static_cast<char16_t>(0xD800 + ((*code - 0x10000) >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + ((*code - 0x10000) & 0x3FF)));
        }
    }
    return result;
}

} // namespace dorvane::cli
