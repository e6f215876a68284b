#include "file_jobs.hpp"
#include "memory_jobs.hpp"

#include "DorvaneBMPBlur.h"
#include "edge_job.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"
#include "scale_job.hpp"

#include <cerrno>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dorvane {
namespace {

std::int32_t ResultOf(JobResult result) {
    switch (result) {
    case JobResult::Done:
        return BMPBLUR_OK;
    case JobResult::SourceFailed:
        return BMPBLUR_SOURCE_UNREADABLE;
    case JobResult::OutputFailed:
        break;
    case JobResult::Refused:
        return BMPBLUR_INVALID_ARGUMENT;
    }
    return BMPBLUR_OUTPUT_UNWRITABLE;
}

// job(source, output, options, failure), once neither path is null.
template <class Job>
std::int32_t RunWithPaths(const Job& job, const char* source, const char* output,
                          const JobOptions& options, FileFailure& failure) noexcept {
    failure = {};
    if (source == nullptr || output == nullptr) {
        failure = {source == nullptr ? FailedFile::Source : FailedFile::Output,
                   FailureKind::PathInvalid};
        return BMPBLUR_INVALID_ARGUMENT;
    }
    return ResultOf(job(source, output, options, failure));
}

using Job = JobResult (*)(const char* source, const char* output, const JobOptions& options,
                          FileFailure& failure);
using MemoryJob = JobResult (*)(std::span<const std::uint8_t> source,
                                std::vector<std::uint8_t>& output, const JobOptions& options,
                                FileFailure& failure);

// job(source, output, options, failure) on the pipeline's planes, one call at a time in the
// process.
template <class JobOf, class Source, class Output>
JobResult InTurn(JobOf job, Source source, Output& output, const JobOptions& options,
                 FileFailure& failure) {
    try {
        const std::lock_guard lock(PipelineMutex);
        return job(source, output, options, failure);
    } catch (...) {
        // Only taking the lock can throw (a system error): nothing was read.
        failure = SystemFailure(FailedFile::Source, FailureKind::Open, EAGAIN);
        return JobResult::SourceFailed;
    }
}

std::int32_t RunInTurn(Job job, const char* source, const char* output, const JobOptions& options,
                       FileFailure& failure) noexcept {
    const auto inTurn = [job](const char* from, const char* to, const JobOptions& with,
                              FileFailure& why) { return InTurn(job, from, to, with, why); };
    return RunWithPaths(inTurn, source, output, options, failure);
}

// The same from bytes to bytes; output is empty unless the job is done.
std::int32_t RunInTurn(MemoryJob job, std::span<const std::uint8_t> source,
                       std::vector<std::uint8_t>& output, const JobOptions& options,
                       FileFailure& failure) noexcept {
    failure = {};
    output.clear();
    return ResultOf(InTurn(job, source, output, options, failure));
}

// job(), a scaling, which calls run at once; memory that runs out while it sets up is the
// source's failure.
template <class Scaling> JobResult ScaleAtOnce(const Scaling& job, FileFailure& failure) noexcept {
    try {
        return job();
    } catch (const std::bad_alloc&) {
        failure = FormatFailure(FailureKind::OutOfMemory); // setting up, before reading
        return JobResult::SourceFailed;
    }
}

// The UTF-8 form of a UTF-16 path, whatever its length; nothing when it is null or not valid
// UTF-16.
std::optional<std::string> Utf8Path(const char16_t* path) {
    if (path == nullptr) {
        return std::nullopt;
    }
    std::size_t units = 0;
    while (path[units] != 0) {
        ++units;
    }
    // At most three bytes for each UTF-16 unit, and the terminator.
    std::string converted(3 * units + 1, '\0');
    if (ConvertPath(path, converted) != PathConversion::Converted) {
        return std::nullopt;
    }
    converted.resize(converted.find('\0'));
    return converted;
}

std::int32_t RunWide(Job job, const char16_t* source, const char16_t* output, std::uint32_t threads,
                     FileFailure& failure) noexcept {
    try {
        const std::optional<std::string> narrowSource = Utf8Path(source);
        const std::optional<std::string> narrowOutput = Utf8Path(output);
        if (!narrowSource || !narrowOutput) {
            failure = {narrowSource ? FailedFile::Output : FailedFile::Source,
                       FailureKind::PathInvalid};
            return BMPBLUR_INVALID_ARGUMENT;
        }
        return RunInTurn(job, narrowSource->c_str(), narrowOutput->c_str(), {threads}, failure);
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Source);
        return BMPBLUR_SOURCE_UNREADABLE;
    }
}

} // namespace

std::int32_t BlurFiles(const char* source, const char* output, const JobOptions& options,
                       FileFailure& failure) noexcept {
    return RunInTurn(RunBlurJob, source, output, options, failure);
}

std::int32_t DetectEdgesInFiles(const char* source, const char* output, const JobOptions& options,
                                FileFailure& failure) noexcept {
    return RunInTurn(RunEdgeJob, source, output, options, failure);
}

std::int32_t ScaleFiles(const char* source, const char* output, char mode, std::int32_t value,
                        const JobOptions& options, FileFailure& failure) noexcept {
    return RunWithPaths(
        [mode, value](const char* from, const char* to, const JobOptions& with, FileFailure& why) {
            return ScaleAtOnce([&] { return RunScaleJob(from, to, mode, value, with, why); }, why);
        },
        source, output, options, failure);
}

std::int32_t BlurBytes(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                       const JobOptions& options, FileFailure& failure) noexcept {
    return RunInTurn(RunBlurJob, source, output, options, failure);
}

std::int32_t DetectEdgesInBytes(std::span<const std::uint8_t> source,
                                std::vector<std::uint8_t>& output, const JobOptions& options,
                                FileFailure& failure) noexcept {
    return RunInTurn(RunEdgeJob, source, output, options, failure);
}

std::int32_t ScaleBytes(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& output,
                        char mode, std::int32_t value, const JobOptions& options,
                        FileFailure& failure) noexcept {
    failure = {};
    output.clear();
    return ResultOf(ScaleAtOnce(
        [&] { return RunScaleJob(source, output, mode, value, options, failure); }, failure));
}

std::int32_t BlurFiles(const char16_t* source, const char16_t* output, std::uint32_t threads,
                       FileFailure& failure) noexcept {
    return RunWide(RunBlurJob, source, output, threads, failure);
}

std::int32_t BlurFiles(const char16_t* source, const char16_t* output,
                       std::uint32_t threads) noexcept {
    FileFailure ignored;
    return BlurFiles(source, output, threads, ignored);
}

std::int32_t DetectEdgesInFiles(const char16_t* source, const char16_t* output,
                                std::uint32_t threads, FileFailure& failure) noexcept {
    return RunWide(RunEdgeJob, source, output, threads, failure);
}

} // namespace dorvane
