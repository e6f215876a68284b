// A C++ user of the installed codec: loads argv[1], scales it to half its size, saves it to
// argv[2], reads the saved file back and prints its size as "WIDTH x HEIGHT".
#include <dorvane/bitmap_image.hpp>
#include <dorvane/scaling.hpp>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: cpp_consumer SOURCE OUTPUT\n";
        return 64;
    }
    dorvane::BitmapImage image;
    if (!image.LoadBmp(argv[1])) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    if (!dorvane::ScaleImage(image, 'P', 50) || !image.SaveBmp(argv[2])) {
        std::cerr << argv[2] << ": cannot be scaled and written\n";
        return 2;
    }
    dorvane::BitmapImage saved;
    if (!saved.LoadBmp(argv[2])) {
        std::cerr << argv[2] << ": cannot be read back\n";
        return 1;
    }
    std::cout << saved.GetWidth() << " x " << saved.GetHeight() << '\n';
    return 0;
}
