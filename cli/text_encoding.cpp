#include "text_encoding.hpp"

#include <cstdint>
#include <optional>

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

bool IsUtf8(std::string_view text) {
    for (std::size_t index = 0; index < text.size();) {
        if (!DecodeUtf8(text, index)) {
            return false;
        }
    }
    return true;
}

} // namespace dorvane::cli
