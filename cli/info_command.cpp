#include "info_command.hpp"

#include "bmp_headers.hpp"
#include "header_inspection.hpp"
#include "report.hpp"
#include "stream_operands.hpp"

#include <iostream>
#include <string_view>
#include <vector>

namespace dorvane::cli {
namespace {

template <typename Value>
void Field(std::string_view name, Value value, std::string_view note = {}) {
    std::cout << "    " << name << ": " << +value;
    if (!note.empty()) {
        std::cout << " (" << note << ')';
    }
    std::cout << '\n';
}

std::string_view CompressionName(std::uint32_t compression) {
    switch (compression) {
    case BiRgb:
        return "BI_RGB";
    case BiRle8:
        return "BI_RLE8";
    case BiRle4:
        return "BI_RLE4";
    case BiBitfields:
        return "BI_BITFIELDS";
    default:
        return "unknown";
    }
}

void PrintFields(const std::string& name, const FileHeader& file, const InfoHeader& info) {
    std::cout << "File: " << name << '\n' << "  FileHeader:\n";
    Field("bfType", file.bfType, "BM");
    Field("bfSize", file.bfSize, "bytes");
    Field("bfReserved1", file.bfReserved1);
    Field("bfReserved2", file.bfReserved2);
    Field("bfOffBits", file.bfOffBits, "offset of the pixel rows");
    std::cout << "  InfoHeader:\n";
    Field("biSize", info.biSize, "bytes");
    Field("biWidth", info.biWidth, "pixels");
    Field("biHeight", info.biHeight, info.biHeight < 0 ? "pixels, top-down" : "pixels, bottom-up");
    Field("biPlanes", info.biPlanes);
    Field("biBitCount", info.biBitCount, "bits per pixel");
    Field("biCompression", info.biCompression, CompressionName(info.biCompression));
    Field("biSizeImage", info.biSizeImage, "bytes");
    Field("biXPelsPerMeter", info.biXPelsPerMeter, "pixels per metre");
    Field("biYPelsPerMeter", info.biYPelsPerMeter, "pixels per metre");
    Field("biClrUsed", info.biClrUsed);
    Field("biClrImportant", info.biClrImportant);
}

} // namespace

ExitCode PrintHeaders(const std::vector<std::string>& paths) {
    ExitCode status = ExitOk;
    bool printed = false;
    for (const std::string& path : paths) {
        if (RefuseStreamOperand(path)) {
            status = status == ExitOk ? ExitInvalidArgument : status;
            continue;
        }
        FileHeader file;
        InfoHeader info;
        FileFailure failure;
        if (!ReadBmpHeaders(PathOfSource(path).c_str(), file, info, failure)) {
            Report(OperandName(path, true), failure.Reason());
            status = status == ExitOk ? ExitSourceUnreadable : status;
            continue;
        }
        // Each file's listing starts with its name; an empty line sets it off from the one before.
        std::cout << (printed ? "\n" : "");
        PrintFields(OperandName(path, true), file, info);
        printed = true;
    }
    return status;
}

} // namespace dorvane::cli
