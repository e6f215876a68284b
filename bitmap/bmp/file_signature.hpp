#pragma once

#include "file_failure.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace dorvane {

// The image formats most often handed over for a BMP file, told by their first bytes, so that a
// refusal can say what the file is: FileFailure::Values[0] of FailureKind::OtherFormat.
enum class ImageFormat : std::int64_t { Png = 1, Jpeg, Gif, Tiff };

// As many of a file's first bytes as it takes to tell those formats apart.
inline constexpr std::size_t SignatureBytes = 8;

// Why a file is not read whose first bytes, lead (up to SignatureBytes of them), are not those of
// a whole BMP header: EmptyFile when there are none, OtherFormat when they begin another format's
// file, else NotBmp.
FileFailure NotBmpFailure(std::span<const std::uint8_t> lead);

// "PNG", "JPEG", "GIF" or "TIFF".
const char* ImageFormatName(std::int64_t format);

} // namespace dorvane
