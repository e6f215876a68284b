// job_calls JOB N SOURCE OUTPUT: the library's file job JOB (edges) called N times in one process,
// as a C++ program that links the pipeline meets it, for the in-process part of bench/compare.
// The same output as blur_calls.c: "call K MS" for each call (call 1 is the warm-up) and last
// "peak_rss_kib KIB". Its peer is bench/opencv_calls.cpp with the same JOB.
#include "file_jobs.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    long calls = 0;
    const std::string_view count = argc == 5 ? argv[2] : "";
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), calls);
    if (argc != 5 || std::string_view(argv[1]) != "edges" || error != std::errc() ||
        end != count.data() + count.size() || calls < 1) {
        std::fputs("usage: job_calls edges N SOURCE OUTPUT\n", stderr);
        return 64;
    }
    for (long call = 1; call <= calls; ++call) {
        unlink(argv[4]); // a new file every call, as blur_calls does
        const auto start = std::chrono::steady_clock::now();
        dorvane::FileFailure failure;
        const std::int32_t result = dorvane::DetectEdgesInFiles(argv[3], argv[4], {}, failure);
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        if (result != 0) {
            std::fprintf(stderr, "job_calls: %s\n", failure.Reason().c_str());
            return 1;
        }
        std::printf("call %ld %.3f\n", call, elapsed.count());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kib %ld\n", usage.ru_maxrss);
    return 0;
}
