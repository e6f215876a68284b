#include "blur_command.hpp"

#include "DorvaneBMPBlur.h"
#include "blur_entry.hpp"
#include "failure_reasons.hpp"
#include "report.hpp"
#include "text_encoding.hpp"

namespace dorvane::cli {
namespace {

constexpr std::size_t SourcePathLimit = 200;

} // namespace

ExitCode BlurFile(const std::string& source, const std::string& output, std::uint32_t threads) {
    const auto wideSource = Utf8ToUtf16(source);
    const auto wideOutput = Utf8ToUtf16(output);
    if (!wideSource || !wideOutput) {
        Report(wideSource ? output : source, "path is not valid UTF-8");
        return ExitInvalidArgument;
    }
    switch (BlurFiles(wideSource->c_str(), wideOutput->c_str(), threads)) {
    case BMPBLUR_OK:
        return ExitOk;
    case BMPBLUR_SOURCE_UNREADABLE:
        Report(source, SourceFailureReason(source));
        return ExitSourceUnreadable;
    case BMPBLUR_OUTPUT_UNWRITABLE:
        Report(output, OutputFailureReason(output));
        return ExitOutputUnwritable;
    default:
        if (source.size() >= SourcePathLimit) {
            Report(source, "path too long (at most 199 bytes for a source)");
        } else {
            Report(output, "path too long (at most 207 bytes for an output)");
        }
        return ExitInvalidArgument;
    }
}

} // namespace dorvane::cli
