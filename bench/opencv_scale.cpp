// opencv_scale SOURCE OUTPUT PERCENT: `bmpblur scale SOURCE OUTPUT P PERCENT` done the way a user
// would do it with OpenCV (imread, resize with INTER_LINEAR to the same size, imwrite), as the
// peer of the comparison script (bench/compare). Not part of the library's build.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: opencv_scale SOURCE OUTPUT PERCENT\n";
        return 64;
    }
    const cv::Mat colour = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (colour.empty()) {
        std::cerr << "opencv_scale: cannot read " << argv[1] << '\n';
        return 1;
    }
    const int percent = std::atoi(argv[3]);
    // The new size as bmpblur's "P" mode takes it: the old side times the percentage times 0.01.
    const auto side = [percent](int old) {
        return std::max(1, static_cast<int>(std::floor(old * percent * 0.01)));
    };
    cv::Mat scaled;
    cv::resize(colour, scaled, cv::Size(side(colour.cols), side(colour.rows)), 0, 0,
               cv::INTER_LINEAR);
    if (!cv::imwrite(argv[2], scaled)) {
        std::cerr << "opencv_scale: cannot write " << argv[2] << '\n';
        return 2;
    }
    return 0;
}
