// opencv_blur SOURCE OUTPUT: the job of bmpblur done the way a user would do it with OpenCV,
// as the peer of the comparison script (bench/compare). Not part of the library's build.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: opencv_blur SOURCE OUTPUT\n";
        return 64;
    }
    const cv::Mat colour = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (colour.empty()) {
        std::cerr << "opencv_blur: cannot read " << argv[1] << '\n';
        return 1;
    }
    cv::Mat gray;
    cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
    cv::Mat blurred;
    cv::GaussianBlur(gray, blurred, cv::Size(5, 5), 0);
    if (!cv::imwrite(argv[2], blurred)) {
        std::cerr << "opencv_blur: cannot write " << argv[2] << '\n';
        return 2;
    }
    return 0;
}
