#include "scale_command.hpp"

#include "report.hpp"
#include "stream_operands.hpp"

#include <DorvaneBMPBlur.h>
#include <dorvane/file_jobs.hpp>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dorvane::cli {
namespace {

std::optional<std::int32_t> ParseValue(const std::string& text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool IsMode(const std::string& mode) {
    return mode.size() == 1 && std::string_view("PWHF").find(static_cast<char>(std::toupper(
                                   static_cast<unsigned char>(mode[0])))) != std::string_view::npos;
}

} // namespace

bool IsBelowOne(const std::string& value) {
    const std::optional<std::int32_t> number = ParseValue(value);
    return number && *number < 1;
}

ExitCode ScaleFile(const std::string& source, const std::string& output, const std::string& mode,
                   const std::string& value) {
    if (!IsMode(mode)) {
        Report(mode, "unknown scaling mode (use P, W, H or F)");
        return ExitInvalidArgument;
    }
    const std::optional<std::int32_t> number = ParseValue(value);
    if (!number) {
        Report(value, "not a whole number");
        return ExitInvalidArgument;
    }
    if (RefuseStreamOperand(source) || RefuseStreamOperand(output)) {
        return ExitInvalidArgument;
    }
    FileFailure failure;
    const std::int32_t result = ScaleFiles(
        PathOfSource(source).c_str(), PathOfOutput(output).c_str(), mode[0], *number, {}, failure);
    switch (result) {
    case BMPBLUR_OK:
        ReportTruncation(OperandName(source, true), failure);
        return ExitOk;
    case BMPBLUR_SOURCE_UNREADABLE:
        Report(OperandName(source, true), failure.Reason());
        return ExitSourceUnreadable;
    case BMPBLUR_OUTPUT_UNWRITABLE:
        Report(OperandName(output, false), failure.Reason());
        return ExitOutputUnwritable;
    default:
        Report(value, failure.Reason());
        return ExitInvalidArgument;
    }
}

} // namespace dorvane::cli
