#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

// The file that an operation could not read or write.
enum class FailedFile : std::uint8_t { None, Source, Output };

enum class FailureKind : std::uint8_t {
    None,
    // A system call failed at this step; FileFailure::SystemError holds its errno.
    Open,
    Read,
    Write,
    Replace,
    // A symbolic link at the output's name that another user planted in a shared sticky folder
    // (as /tmp): not followed; SystemError is EACCES.
    UntrustedLink,
    // The source is not a BMP file that the reader takes.
    NotBmp,
    EmptyFile,
    OtherFormat, // Values: the ImageFormat (file_signature.hpp) that the file begins as
    TruncatedHeader,
    UnsupportedHeaderSize, // Values: the info header's size, biSize
    HeaderPastPixels,      // Values: biSize and bfOffBits
    RleCompressed,
    UnsupportedCompression, // Values: the compression and the bit count
    UnsupportedBitDepth,    // Values: the bit count
    TopDown,
    InvalidSize, // Values: width and height
    TooLarge,    // Values: width and height
    OutOfMemory, // Values: width and height, when known
    // A path that the caller gave cannot be used.
    PathInvalid,
    // A scaling that ScaleImage refuses: its mode, or the size it would make.
    UnknownScalingMode,
    ScaledTooLarge,
};

// Why reading or writing a file failed, recorded where it happened: the failing step and the
// system's errno, or the rule of the format that the file breaks.
struct FileFailure {
    FailedFile File = FailedFile::None;
    FailureKind Kind = FailureKind::None;
    int SystemError = 0;
    std::int64_t Values[2] = {0, 0};
    // Set by a read that succeeded on a source cut short: the rows its header promised and the
    // rows that arrived whole; the others were filled as the format's rules say. Both 0 for a
    // whole source.
    std::int64_t RowsExpected = 0;
    std::int64_t RowsRead = 0;

    explicit operator bool() const { return Kind != FailureKind::None; }
    bool Truncated() const { return RowsRead < RowsExpected; }
    // In words for a user, without the file's name: "No such file or directory", "not a BMP
    // file", "write failed: No space left on device". Defined with the codec, whose rules most
    // kinds name (bitmap/file_failure.cpp).
    std::string Reason() const;
};

inline FileFailure SystemFailure(FailedFile file, FailureKind step, int error) {
    return {file, step, error, {0, 0}};
}

// Memory ran out while reading (file Source) or writing (Output) a picture of width x height,
// 0 x 0 when its size is not known: one kind, whichever side it happened on.
inline FileFailure MemoryFailure(FailedFile file, std::int64_t width = 0, std::int64_t height = 0) {
    return {file, FailureKind::OutOfMemory, 0, {width, height}};
}

inline FileFailure FormatFailure(FailureKind kind, std::int64_t first = 0,
                                 std::int64_t second = 0) {
    return {FailedFile::Source, kind, 0, {first, second}};
}

} // namespace dorvane
