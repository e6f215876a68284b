#include "file_failure.hpp"

#include "bmp_reader.hpp"
#include "file_signature.hpp"

#include <cerrno>
#include <system_error>

namespace dorvane {
namespace {

std::string SystemReason(int error) {
    // 0 would read "Success": a step that failed without an errno still failed.
    return error == 0 ? std::string("unknown system error")
                      : std::generic_category().message(error);
}

// The 12-byte header of OS/2 1.x files, with 16-bit width and height.
constexpr std::int64_t OS2CoreHeaderSize = 12;

std::string Size(const std::int64_t (&values)[2]) {
    return std::to_string(values[0]) + " x " + std::to_string(values[1]);
}

} // namespace

std::string FileFailure::Reason() const {
    switch (Kind) {
    case FailureKind::None:
        return "no failure";
    case FailureKind::Open:
        return SystemReason(SystemError);
    case FailureKind::Read:
        return "read failed: " + SystemReason(SystemError);
    case FailureKind::Write:
        return "write failed: " + SystemReason(SystemError);
    case FailureKind::Replace:
        // A file mounted over its name (a container's bind mount) cannot be renamed over.
        return "cannot put the file in place: " + SystemReason(SystemError) +
               (SystemError == EBUSY ? " (the destination is a mount point)" : "");
    case FailureKind::UntrustedLink:
        return SystemReason(SystemError) +
               " (a symbolic link of another user in a shared folder; not followed)";
    case FailureKind::NotBmp:
        return "not a BMP file";
    case FailureKind::EmptyFile:
        return "empty file";
    case FailureKind::OtherFormat:
        return std::string("a ") + ImageFormatName(Values[0]) + " file, not a BMP file";
    case FailureKind::TruncatedHeader:
        return "truncated BMP header";
    case FailureKind::UnsupportedHeaderSize:
        return "unsupported info header size " + std::to_string(Values[0]) +
               (Values[0] == OS2CoreHeaderSize ? " (an OS/2 core header)" : "");
    case FailureKind::HeaderPastPixels:
        return "info header size " + std::to_string(Values[0]) +
               " runs past the pixel data at offset " + std::to_string(Values[1]);
    case FailureKind::RleCompressed:
        return "RLE-compressed BMP files are not supported";
    case FailureKind::UnsupportedCompression:
        return "unsupported compression " + std::to_string(Values[0]) + " at " +
               std::to_string(Values[1]) + " bits per pixel";
    case FailureKind::UnsupportedBitDepth:
        return "unsupported bit depth " + std::to_string(Values[0]);
    case FailureKind::TopDown:
        return "top-down BMP files are not supported";
    case FailureKind::InvalidSize:
        return "invalid image size " + Size(Values);
    case FailureKind::TooLarge:
        return "image too large (" + Size(Values) + " pixels; the limit is " +
               std::to_string(MaxBmpDimension) + " on a side and " +
               std::to_string(MaxBmpPixelCount) + " in all)";
    case FailureKind::OutOfMemory:
        return Values[0] > 0 ? "not enough memory for a " + Size(Values) + " image"
                             : std::string("not enough memory");
    case FailureKind::PathInvalid:
        return "path is missing or not valid UTF-16";
    case FailureKind::UnknownScalingMode:
        return "unknown scaling mode (use P, W, H or F)";
    case FailureKind::ScaledTooLarge:
        return "the scaled image would be too large";
    }
    return "unknown failure";
}

} // namespace dorvane
