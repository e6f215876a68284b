#include "pipeline_commands.hpp"

#include "report.hpp"
#include "stream_operands.hpp"

#if defined(_WIN32)
#include "text_encoding.hpp"

#include <DorvaneBMPBlur.h>
#endif

namespace dorvane::cli {
namespace {

using Entry = std::int32_t (*)(const char* source, const char* output, const JobOptions& options,
                               FileFailure& failure) noexcept;

ExitCode RunEntry(Entry entry, const std::string& source, const std::string& output,
                  const JobOptions& options) {
    if (RefuseStreamOperand(source) || RefuseStreamOperand(output)) {
        return ExitInvalidArgument;
    }
#if defined(_WIN32)
    // The library reaches the system by the UTF-16 form of a path, which other bytes lack. POSIX
    // paths are bytes, and taken as they are, by every command as by the package.
    for (const std::string* path : {&source, &output}) {
        if (!IsUtf8(*path)) {
            Report(*path, "path is not valid UTF-8");
            return ExitInvalidArgument;
        }
    }
#endif
    FileFailure failure;
    const std::int32_t result =
        entry(PathOfSource(source).c_str(), PathOfOutput(output).c_str(), options, failure);
    if (result != BMPBLUR_OK) {
        const bool aboutSource = failure.File == FailedFile::Source;
        Report(OperandName(aboutSource ? source : output, aboutSource), failure.Reason());
    }
    switch (result) {
    case BMPBLUR_OK:
        ReportTruncation(OperandName(source, true), failure);
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

ExitCode BlurFile(const std::string& source, const std::string& output, const JobOptions& options) {
    // The overload that takes UTF-8 paths.
    return RunEntry(static_cast<Entry>(BlurFiles), source, output, options);
}

ExitCode DetectEdges(const std::string& source, const std::string& output,
                     const JobOptions& options) {
    return RunEntry(static_cast<Entry>(DetectEdgesInFiles), source, output, options);
}

} // namespace dorvane::cli
