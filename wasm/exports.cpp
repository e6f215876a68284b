// The C functions that the JavaScript module in js/ calls: buffers in the module's memory, and the
// result of the last call (its bytes, the picture's size, the library's words for a failure or a
// warning) held here until the next, for JavaScript to copy out.
#include <dorvane/array_files.hpp>
#include <dorvane/bitmap_image.hpp>
#include <dorvane/bmp_headers.hpp>
#include <dorvane/bmp_reader.hpp>
#include <dorvane/bmp_writer.hpp>
#include <dorvane/file_failure.hpp>
#include <dorvane/header_inspection.hpp>
#include <dorvane/memory_jobs.hpp>

#include <DorvaneBMPBlur.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace dorvane {
namespace {

// What a call gives JavaScript besides its result's bytes; FormatError and the others are made of
// these in js/dorvane.js.
enum Outcome : std::int32_t {
    Done = 0,
    Refused = 1,     // a file that the format's rules reject; the text is the reason
    NoMemory = 2,    // the text is the reason
    BadArgument = 3, // a size or depth that no BMP file has, or a scaling refused (the reason)
};

struct Result {
    std::vector<std::uint8_t> Bytes;
    std::string Text;
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
};
Result Last;

std::span<const std::uint8_t> BytesAt(const std::uint8_t* bytes, std::size_t size) {
    return {bytes, size};
}

// The outcome of a failure, its reason kept; after a success, the warning of a source cut short,
// in the tool's words.
Outcome Settle(bool done, const FileFailure& failure) {
    if (!done) {
        Last.Bytes.clear();
        Last.Text = failure.Reason();
        switch (failure.Kind) {
        case FailureKind::OutOfMemory:
            return NoMemory;
        case FailureKind::UnknownScalingMode:
        case FailureKind::ScaledTooLarge:
            return BadArgument; // the tool's unusable argument
        default:
            return Refused;
        }
    }
    if (failure.Truncated()) {
        Last.Text = "truncated, " + std::to_string(failure.RowsRead) + " of " +
                    std::to_string(failure.RowsExpected) + " rows read";
    }
    return Done;
}

using Output = std::vector<std::uint8_t>;

// A job on a file's bytes, its output becoming the result.
template <class Job> Outcome RunJob(const Job& job) {
    Last = {};
    FileFailure failure;
    return Settle(job(Last.Bytes, JobOptions{.Threads = 1}, failure) == BMPBLUR_OK, failure);
}

} // namespace
} // namespace dorvane

using namespace dorvane;

extern "C" {

__attribute__((export_name("dorvane_alloc"))) std::uint8_t* DorvaneAlloc(std::size_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size));
}

__attribute__((export_name("dorvane_free"))) void DorvaneFree(std::uint8_t* bytes) {
    std::free(bytes);
}

// The last result, until the next call or dorvane_release.
__attribute__((export_name("dorvane_result_bytes"))) const std::uint8_t* DorvaneResultBytes() {
    return Last.Bytes.data();
}
__attribute__((export_name("dorvane_result_size"))) std::size_t DorvaneResultSize() {
    return Last.Bytes.size();
}
__attribute__((export_name("dorvane_result_text"))) const char* DorvaneResultText() {
    return Last.Text.c_str();
}
__attribute__((export_name("dorvane_result_width"))) std::uint32_t DorvaneResultWidth() {
    return Last.Width;
}
__attribute__((export_name("dorvane_result_height"))) std::uint32_t DorvaneResultHeight() {
    return Last.Height;
}
__attribute__((export_name("dorvane_release"))) void DorvaneRelease() {
    Last = {};
}

// The reason for memory running out, for a call that ended in a trap (no_exceptions.cpp).
__attribute__((export_name("dorvane_memory_reason"))) const char* DorvaneMemoryReason() {
    Last = {};
    Last.Text = MemoryFailure(FailedFile::Source).Reason();
    return Last.Text.c_str();
}

// The file that bmpblur blur, edges or scale writes for the file of bytes.
__attribute__((export_name("dorvane_blur"))) std::int32_t DorvaneBlur(const std::uint8_t* bytes,
                                                                      std::size_t size) {
    return RunJob([bytes, size](Output& output, const JobOptions& options, FileFailure& failure) {
        return BlurBytes(BytesAt(bytes, size), output, options, failure);
    });
}
__attribute__((export_name("dorvane_edges"))) std::int32_t DorvaneEdges(const std::uint8_t* bytes,
                                                                        std::size_t size) {
    return RunJob([bytes, size](Output& output, const JobOptions& options, FileFailure& failure) {
        return DetectEdgesInBytes(BytesAt(bytes, size), output, options, failure);
    });
}
__attribute__((export_name("dorvane_scale"))) std::int32_t
DorvaneScale(const std::uint8_t* bytes, std::size_t size, char mode, std::int32_t value) {
    return RunJob([bytes, size, mode, value](Output& output, const JobOptions& options,
                                             FileFailure& failure) {
        return ScaleBytes(BytesAt(bytes, size), output, mode, value, options, failure);
    });
}

// Both headers as text, a field a line: its published name, a space, its value.
__attribute__((export_name("dorvane_header"))) std::int32_t DorvaneHeader(const std::uint8_t* bytes,
                                                                          std::size_t size) {
    Last = {};
    FileHeader file;
    InfoHeader info;
    FileFailure failure;
    if (!ReadBmpHeaders(BytesAt(bytes, size), file, info, failure)) {
        return Settle(false, failure);
    }
    const auto put = [](const auto& field, auto value) {
        Last.Text.append(field.Name).append(" ").append(std::to_string(value)).append("\n");
    };
    ForEachField(file, put);
    ForEachField(info, put);
    return Done;
}

// The picture of a BMP file as red, green and blue bytes, row 0 at the top.
__attribute__((export_name("dorvane_read"))) std::int32_t DorvaneRead(const std::uint8_t* bytes,
                                                                      std::size_t size) {
    Last = {};
    FileFailure failure;
    const auto allocate = [](std::uint32_t width, std::uint32_t height) -> std::uint8_t* {
        Last.Width = width;
        Last.Height = height;
        Last.Bytes.resize(std::size_t{3} * width * height);
        return Last.Bytes.data();
    };
    return Settle(ReadRgbArray(BytesAt(bytes, size), allocate, 1, failure), failure);
}

// The BMP file of a picture of channels bytes a pixel (3: red, green and blue; 1: gray), row 0 at
// the top, at depth bits per pixel with the standard palette of the depth.
__attribute__((export_name("dorvane_write"))) std::int32_t
DorvaneWrite(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
             std::uint32_t channels, std::int32_t depth) {
    Last = {};
    BitmapImage format;
    const bool known = HasPaletteDepth(depth) || depth == 16 || depth == 24 || depth == 32;
    if (!known || width == 0 || height == 0 || (channels != 1 && channels != 3) ||
        !BmpDimensionsWithinLimits(static_cast<std::int32_t>(width),
                                   static_cast<std::int32_t>(height))) {
        return BadArgument;
    }
    if (!format.ChangeBitDepth(depth)) {
        return Settle(false, MemoryFailure(FailedFile::Output, width, height));
    }
    const auto w = static_cast<std::int32_t>(width);
    const auto h = static_cast<std::int32_t>(height);
    FileFailure failure;
    const bool saved =
        channels == 3
            ? SaveRgbBmp(format, RgbRows{pixels, std::size_t{3} * width, w, h}, Last.Bytes, failure)
            : SaveGrayBmp(format, GrayRows{pixels, width, w, h}, Last.Bytes, failure);
    return Settle(saved, failure);
}

} // extern "C"
