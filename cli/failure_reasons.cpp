#include "failure_reasons.hpp"

#include "bmp_headers.hpp"
#include "bmp_reader.hpp"
#include "file_stream.hpp"
#include "header_inspection.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace dorvane::cli {
namespace {

namespace fs = std::filesystem;

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

std::string HeaderReason(const FileHeader& file, const InfoHeader& info) {
    if (file.bfType != BmpSignature) {
        return "not a BMP file";
    }
    if (info.biSize == 0) {
        return "truncated BMP header";
    }
    if (info.biCompression == BiRle8 || info.biCompression == BiRle4) {
        return "RLE-compressed BMP files are not supported";
    }
    if (info.biCompression > BiBitfields ||
        (info.biCompression == BiBitfields && info.biBitCount != 16)) {
        return "unsupported compression " + std::to_string(info.biCompression) + " at " +
               std::to_string(info.biBitCount) + " bits per pixel";
    }
    switch (info.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return "unsupported bit depth " + std::to_string(info.biBitCount);
    }
    if (info.biHeight < 0) {
        return "top-down BMP files are not supported";
    }
    const std::string size = std::to_string(info.biWidth) + " x " + std::to_string(info.biHeight);
    if (info.biWidth <= 0 || info.biHeight == 0) {
        return "invalid image size " + size;
    }
    if (!BmpDimensionsWithinLimits(info.biWidth, info.biHeight)) {
        return "image too large (" + size + " pixels)";
    }
    return "not enough memory for a " + size + " image";
}

} // namespace

std::string SourceFailureReason(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return SystemReason(EISDIR);
    }
    errno = 0;
    if (!OpenFile(path.c_str(), "rb")) {
        return SystemReason(errno != 0 ? errno : ENOENT);
    }
    return HeaderReason(ReadFileHeaderOf(path.c_str()), ReadInfoHeaderOf(path.c_str()));
}

std::string OutputFailureReason(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return SystemReason(EISDIR);
    }
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (!fs::exists(folder, error)) {
        return SystemReason(ENOENT);
    }
    if (!fs::is_directory(folder, error)) {
        return SystemReason(ENOTDIR);
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        return SystemReason(errno);
    }
    return "write failed (is the disk full?)";
}

} // namespace dorvane::cli
