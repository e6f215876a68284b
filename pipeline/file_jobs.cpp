#include "file_jobs.hpp"

#include "DorvaneBMPBlur.h"
#include "blur_job.hpp"
#include "edge_job.hpp"
#include "path_conversion.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <mutex>
#include <span>

namespace dorvane {
namespace {

// The pipeline state is process-wide, so calls take turns.
std::mutex CallMutex;

using Job = JobResult (*)(const char* source, const char* output, std::uint32_t threads,
                          FileFailure& failure);

// False, failure set, when path cannot be converted into destination.
bool Convert(const char16_t* path, std::span<char> destination, FailedFile file,
             FileFailure& failure) {
    switch (ConvertPath(path, destination)) {
    case PathConversion::Converted:
        return true;
    case PathConversion::Invalid:
        failure = {file, FailureKind::PathInvalid, 0, {0, 0}};
        return false;
    case PathConversion::TooLong:
        break;
    }
    // The longest path that fits, its terminator aside.
    failure = {file, FailureKind::PathTooLong, 0, {std::ssize(destination) - 1, 0}};
    return false;
}

std::int32_t RunJob(Job job, const char16_t* source, const char16_t* output, std::uint32_t threads,
                    FileFailure& failure) {
    char outputPath[OutputPathSize];
    char sourcePath[SourcePathSize];
    if (!Convert(output, outputPath, FailedFile::Output, failure) ||
        !Convert(source, sourcePath, FailedFile::Source, failure)) {
        return BMPBLUR_INVALID_ARGUMENT;
    }
    std::copy(std::begin(outputPath), std::end(outputPath), std::begin(OutputPath));

    switch (job(sourcePath, OutputPath, threads, failure)) {
    case JobResult::Done:
        return BMPBLUR_OK;
    case JobResult::SourceFailed:
        return BMPBLUR_SOURCE_UNREADABLE;
    case JobResult::OutputFailed:
        break;
    }
    return BMPBLUR_OUTPUT_UNWRITABLE;
}

std::int32_t RunInTurn(Job job, const char16_t* source, const char16_t* output,
                       std::uint32_t threads, FileFailure& failure) noexcept {
    failure = {};
    try {
        const std::lock_guard lock(CallMutex);
        return RunJob(job, source, output, threads, failure);
    } catch (...) {
        // Only taking the lock can throw (a system error): nothing was read.
        failure = SystemFailure(FailedFile::Source, FailureKind::Open, EAGAIN);
        return BMPBLUR_SOURCE_UNREADABLE;
    }
}

JobResult Edges(const char* source, const char*, std::uint32_t threads, FileFailure& failure) {
    return RunEdgeJob(source, threads, failure); // the output is OutputPath
}

} // namespace

std::int32_t BlurFiles(const char16_t* source, const char16_t* output, std::uint32_t threads,
                       FileFailure& failure) noexcept {
    return RunInTurn(RunBlurJob, source, output, threads, failure);
}

std::int32_t BlurFiles(const char16_t* source, const char16_t* output,
                       std::uint32_t threads) noexcept {
    FileFailure ignored;
    return BlurFiles(source, output, threads, ignored);
}

std::int32_t DetectEdgesInFiles(const char16_t* source, const char16_t* output,
                                std::uint32_t threads, FileFailure& failure) noexcept {
    return RunInTurn(Edges, source, output, threads, failure);
}

} // namespace dorvane
