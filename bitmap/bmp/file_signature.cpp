#include "file_signature.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace dorvane {
namespace {

struct Signature {
    ImageFormat Format;
    std::string_view Bytes;
};

using namespace std::string_view_literals;

// TIFF comes in either byte order: "II*\0" little-endian, "MM\0*" big-endian.
constexpr std::array Signatures{
    Signature{ImageFormat::Png, "\x89PNG\r\n\x1a\n"sv},
    Signature{ImageFormat::Jpeg, "\xff\xd8\xff"sv},
    Signature{ImageFormat::Gif, "GIF87a"sv},
    Signature{ImageFormat::Gif, "GIF89a"sv},
    Signature{ImageFormat::Tiff, "II*\0"sv},
    Signature{ImageFormat::Tiff, "MM\0*"sv},
};

bool StartsWith(std::span<const std::uint8_t> lead, std::string_view signature) {
    return lead.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), lead.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

} // namespace

FileFailure NotBmpFailure(std::span<const std::uint8_t> lead) {
    if (lead.empty()) {
        return FormatFailure(FailureKind::EmptyFile);
    }
    for (const Signature& signature : Signatures) {
        if (StartsWith(lead, signature.Bytes)) {
            return FormatFailure(FailureKind::OtherFormat,
                                 static_cast<std::int64_t>(signature.Format));
        }
    }
    return FormatFailure(FailureKind::NotBmp);
}

const char* ImageFormatName(std::int64_t format) {
    switch (static_cast<ImageFormat>(format)) {
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Gif:
        return "GIF";
    case ImageFormat::Tiff:
        return "TIFF";
    }
    return "unknown";
}

} // namespace dorvane
