#include "info_command.hpp"

#include "report.hpp"
#include "stream_operands.hpp"

#include <dorvane/bmp_headers.hpp>
#include <dorvane/header_inspection.hpp>

#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

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

void PrintFields(const std::string& name, const FileHeader& file, const InfoHeader& info) {
    const auto print = [&info](const auto& field, auto value) {
        std::cout << "    " << field.Name << ": " << +value;
        if (const std::string note = Note(field, info); !note.empty()) {
            std::cout << " (" << note << ')';
        }
        std::cout << '\n';
    };
    std::cout << "File: " << name << '\n' << "  FileHeader:\n";
    ForEachField(file, print);
    std::cout << "  InfoHeader:\n";
    ForEachField(info, print);
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
