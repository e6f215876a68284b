#include "info_command.hpp"

#include "bmp_headers.hpp"
#include "header_inspection.hpp"
#include "report.hpp"
#include "stream_operands.hpp"

#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace dorvane::cli {
namespace {

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

// Whether field is the header field member.
template <class Field, class Member> bool Is(const Field& field, Member member) {
    if constexpr (std::is_same_v<decltype(Field::Member), Member>) {
        return field.Member == member;
    } else {
        return false;
    }
}

// What a field's value says beyond its number: the field's note, and for the height and the
// compression what the value itself means.
template <class Field> std::string Note(const Field& field, const InfoHeader& info) {
    if (Is(field, &InfoHeader::biHeight)) {
        return std::string(field.Note) + (info.biHeight < 0 ? ", top-down" : ", bottom-up");
    }
    if (Is(field, &InfoHeader::biCompression)) {
        return std::string(CompressionName(info.biCompression));
    }
    return std::string(field.Note);
}

} // namespace

ExitCode PrintHeaders(const std::string& path) {
    if (RefuseStreamOperand(path)) {
        return ExitInvalidArgument;
    }
    FileHeader file;
    InfoHeader info;
    FileFailure failure;
    if (!ReadBmpHeaders(PathOfSource(path).c_str(), file, info, failure)) {
        Report(OperandName(path, true), failure.Reason());
        return ExitSourceUnreadable;
    }
    const auto print = [&info](const auto& field, auto value) {
        std::cout << "    " << field.Name << ": " << +value;
        if (const std::string note = Note(field, info); !note.empty()) {
            std::cout << " (" << note << ')';
        }
        std::cout << '\n';
    };
    std::cout << "File: " << OperandName(path, true) << '\n' << "  FileHeader:\n";
    ForEachField(file, print);
    std::cout << "  InfoHeader:\n";
    ForEachField(info, print);
    return ExitOk;
}

} // namespace dorvane::cli
