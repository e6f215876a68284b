#include "pipeline_commands.hpp"

#include "DorvaneBMPBlur.h"
#include "file_jobs.hpp"
#include "report.hpp"
#include "stream_operands.hpp"
#include "text_encoding.hpp"

namespace dorvane::cli {
namespace {

using Entry = std::int32_t (*)(const char16_t* source, const char16_t* output,
                               std::uint32_t threads, FileFailure& failure) noexcept;

ExitCode RunEntry(Entry entry, const std::string& source, const std::string& output,
                  std::uint32_t threads) {
    if (RefuseStreamOperand(source) || RefuseStreamOperand(output)) {
        return ExitInvalidArgument;
    }
    const auto wideSource = Utf8ToUtf16(PathOfSource(source));
    const auto wideOutput = Utf8ToUtf16(PathOfOutput(output));
    if (!wideSource || !wideOutput) {
        Report(wideSource ? output : source, "path is not valid UTF-8");
        return ExitInvalidArgument;
    }
    FileFailure failure;
    const std::int32_t result = entry(wideSource->c_str(), wideOutput->c_str(), threads, failure);
    if (result != BMPBLUR_OK) {
        const bool aboutSource = failure.File == FailedFile::Source;
        Report(OperandName(aboutSource ? source : output, aboutSource), failure.Reason());
    }
    switch (result) {
    case BMPBLUR_OK:
        return ExitOk;
    case BMPBLUR_SOURCE_UNREADABLE:
        return ExitSourceUnreadable;
    case BMPBLUR_OUTPUT_UNWRITABLE:
        return ExitOutputUnwritable;
    default:
        return ExitInvalidArgument;
    }
}

} // namespace

ExitCode BlurFile(const std::string& source, const std::string& output, std::uint32_t threads) {
    // The overload that says why a call failed.
    return RunEntry(static_cast<Entry>(BlurFiles), source, output, threads);
}

ExitCode DetectEdges(const std::string& source, const std::string& output, std::uint32_t threads) {
    return RunEntry(DetectEdgesInFiles, source, output, threads);
}

} // namespace dorvane::cli
