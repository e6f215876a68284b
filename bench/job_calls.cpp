// job_calls JOB N SOURCE OUTPUT: the library's job JOB called N times in one process, as a C++
// program that links the pipeline meets it, for the in-process part of bench/compare: edges, the
// file job DetectEdgesInFiles; blur-bytes and edges-bytes, BlurBytes and DetectEdgesInBytes on the
// source's bytes read once, into new bytes each call as the Node package's calls give them, the
// last call's output written to OUTPUT (the peer of the Node row).
// The same output as blur_calls.c: "call K MS" for each call (call 1 is the warm-up) and last
// "peak_rss_kib KIB". The peer of edges is bench/opencv_calls.cpp with the same JOB.
#include "file_jobs.hpp"
#include "memory_jobs.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

// The bytes of the file at path; empty when it cannot be read.
std::vector<std::uint8_t> BytesOf(const char* path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return bytes;
    }
    std::array<std::uint8_t, 1 << 16> chunk{};
    for (std::size_t got = 0; (got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    std::fclose(file);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    long calls = 0;
    const std::string_view job = argc == 5 ? argv[1] : "";
    const std::string_view count = argc == 5 ? argv[2] : "";
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), calls);
    const bool inMemory = job == "blur-bytes" || job == "edges-bytes";
    if ((job != "edges" && !inMemory) || error != std::errc() ||
        end != count.data() + count.size() || calls < 1) {
        std::fputs("usage: job_calls edges|blur-bytes|edges-bytes N SOURCE OUTPUT\n", stderr);
        return 64;
    }
    const std::vector<std::uint8_t> source =
        inMemory ? BytesOf(argv[3]) : std::vector<std::uint8_t>{};
    std::vector<std::uint8_t> output;
    for (long call = 1; call <= calls; ++call) {
        unlink(argv[4]); // a new file every call, as blur_calls does
        // And new bytes, whose pages the call pays for as a fresh array's: assigning {} would
        // keep the capacity, and with it pages already provided.
        std::vector<std::uint8_t>().swap(output);
        const auto start = std::chrono::steady_clock::now();
        dorvane::FileFailure failure;
        const std::int32_t result =
            job == "edges"        ? dorvane::DetectEdgesInFiles(argv[3], argv[4], {}, failure)
            : job == "blur-bytes" ? dorvane::BlurBytes(source, output, {}, failure)
                                  : dorvane::DetectEdgesInBytes(source, output, {}, failure);
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        if (result != 0) {
            std::fprintf(stderr, "job_calls: %s\n", failure.Reason().c_str());
            return 1;
        }
        std::printf("call %ld %.3f\n", call, elapsed.count());
    }
    if (inMemory) {
        std::FILE* file = std::fopen(argv[4], "wb");
        if (file == nullptr ||
            std::fwrite(output.data(), 1, output.size(), file) != output.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "job_calls: cannot write %s\n", argv[4]);
            return 1;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kib %ld\n", usage.ru_maxrss);
    return 0;
}
