#pragma once

#include "bmp_headers.hpp"
#include "file_failure.hpp"

#include <cstdint>
#include <span>

namespace dorvane {

// Header inspection by file name, without loading pixels. Nothing read is checked: each field
// holds the bytes at its place in the file. Fields are read in file order until the file ends;
// a field the file does not hold completely keeps its default value.

// A file that cannot be opened gives the default header with bfType 0.
[[nodiscard]] FileHeader ReadFileHeaderOf(const char* path);
// A file that cannot be opened gives the default header, without a mark.
[[nodiscard]] InfoHeader ReadInfoHeaderOf(const char* path);
// The file's biBitCount; 0 when the file cannot be opened or ends before it.
[[nodiscard]] std::int32_t BitDepthOfFile(const char* path);
// Opens the file and reads both headers, reporting nothing.
void InspectBmpFile(const char* path);

// Both headers in one reading of the file, so that a pipe serves too. Unlike the functions above it
// checks what it reads: false, with failure saying why, when the file cannot be opened or read,
// when it is shorter than the two headers, or when it does not begin with "BM".
bool ReadBmpHeaders(const char* path, FileHeader& file, InfoHeader& info, FileFailure& failure);

// The same from the bytes of a file in memory: the fields that the bytes hold, as the functions
// of a path read them from a file of those bytes.
[[nodiscard]] FileHeader ReadFileHeaderOf(std::span<const std::uint8_t> bytes);
[[nodiscard]] InfoHeader ReadInfoHeaderOf(std::span<const std::uint8_t> bytes);
bool ReadBmpHeaders(std::span<const std::uint8_t> bytes, FileHeader& file, InfoHeader& info,
                    FileFailure& failure);

} // namespace dorvane
