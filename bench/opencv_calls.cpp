// opencv_calls [edges] N SOURCE OUTPUT: the job of bench/blur_calls.c done N times in one process
// with OpenCV (imread, cvtColor to gray, a 5 x 5 GaussianBlur, back to three channels, imwrite),
// for the in-process part of bench/compare; with "edges", the edge job of bench/job_calls.cpp:
// Canny with the thresholds 65 and 80 after the blur, inverted so that edges are black as in
// bmpblur's map. The same output: "call K MS" for each call (call 1 is the warm-up) and last
// "peak_rss_kib KIB". Not part of the library's build.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

// The source's bits per pixel from its header (offset 28), read once outside the timing: like
// bmpblur, an 8 bpp source gets an 8 bpp gray output and a 24 bpp source a 24 bpp one.
int BitsPerPixel(const char* path) {
    std::ifstream file(path, std::ios::binary);
    unsigned char bytes[2] = {0, 0};
    file.seekg(28);
    file.read(reinterpret_cast<char*>(bytes), 2);
    return file ? bytes[0] | bytes[1] << 8 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool edges = argc == 5 && std::string_view(argv[1]) == "edges";
    if (edges) {
        ++argv;
        --argc;
    }
    char* end = nullptr;
    const long calls = argc == 4 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 4 || *end != '\0' || calls < 1) {
        std::fputs("usage: opencv_calls [edges] N SOURCE OUTPUT\n", stderr);
        return 64;
    }
    const bool gray_output = BitsPerPixel(argv[2]) == 8;
    for (long call = 1; call <= calls; ++call) {
        unlink(argv[3]); // a new file every call, as blur_calls does
        const auto start = std::chrono::steady_clock::now(); // CLOCK_MONOTONIC
        const cv::Mat colour = cv::imread(argv[2], cv::IMREAD_COLOR);
        if (colour.empty()) {
            std::fprintf(stderr, "opencv_calls: cannot read %s\n", argv[2]);
            return 1;
        }
        cv::Mat gray;
        cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
        cv::Mat blurred;
        cv::GaussianBlur(gray, blurred, cv::Size(5, 5), 0);
        if (edges) {
            cv::Mat map;
            cv::Canny(blurred, map, 65, 80);
            cv::bitwise_not(map, blurred);
        }
        cv::Mat written = blurred;
        if (!gray_output) {
            cv::cvtColor(blurred, written, cv::COLOR_GRAY2BGR);
        }
        if (!cv::imwrite(argv[3], written)) {
            std::fprintf(stderr, "opencv_calls: cannot write %s\n", argv[3]);
            return 2;
        }
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        std::printf("call %ld %.3f\n", call, elapsed.count());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kib %ld\n", usage.ru_maxrss);
    return 0;
}
