// BMPBlur end to end on arbitrary source bytes. A source that LoadBmp accepts must give an output
// file of the same size and depth, gray wherever the depth can hold every gray; any other source
// must give BMPBLUR_SOURCE_UNREADABLE and no output file. And BMPBlur, which runs its own job on
// bytes, must give the result, the file and the globals of the stages run one after another on the
// plain path: LoadGrayPlanes, the literal blur (ConvolveAt cell by cell) and StoreGrayImage. The
// edge job likewise must give what LoadGrayPlanes, the literal edge stages (DetectEdgesInPlanes)
// and StoreGrayImage give. The jobs run on a path of the kernel table that the input chooses, and
// so does the reading into an RGB array, which must give LoadBmp's answer, reason and pixels.
#include "DorvaneBMPBlur.h"

#include "array_files.hpp"
#include "bitmap_image.hpp"
#include "edge_job.hpp"
#include "file_jobs.hpp"
#include "fuzz_support.hpp"
#include "gray_planes.hpp"
#include "kernels.hpp"
#include "literal_blur.hpp"
#include "pipeline_state.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace dorvane;
using namespace dorvane::fuzzing;

// Enough for pictures of several strips of the byte blur and of their full height; the literal
// blur of the reference keeps bigger ones from being cheap.
constexpr std::int64_t PixelBudget = std::int64_t{1} << 17;

std::u16string Wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

void CheckOutput(const BitmapImage& source, const std::string& outputPath) {
    BitmapImage output;
    Check(output.LoadBmp(outputPath.c_str()), "the output file does not load");
    Check(output.GetWidth() == source.GetWidth() && output.GetHeight() == source.GetHeight() &&
              output.GetBitDepth() == source.GetBitDepth(),
          "the output differs from the source in size or depth");
    if (HasPaletteDepth(output.GetBitDepth())) {
        return; // the grays are mapped to the nearest colours of the standard palette
    }
    for (std::int32_t x = 0; x < output.GetWidth(); ++x) {
        for (std::int32_t y = 0; y < output.GetHeight(); ++y) {
            const PixelRgba& pixel = output.PixelAt(x, y);
            Check(pixel.Red == pixel.Green && pixel.Green == pixel.Blue,
                  "an output pixel is not gray");
        }
    }
}

std::vector<char> Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Globals {
    std::uint32_t Width = PlaneWidth;
    std::uint32_t Height = PlaneHeight;
    std::int8_t Depth = SourceBitDepth;

    friend bool operator==(const Globals&, const Globals&) = default;
};

// The stages one after another, as BMPBlur ran them before it had a job of its own: the literal
// blur, or with edges the edge job's stages.
std::int32_t Stages(const std::string& source, const std::string& output, bool edges) {
    std::fill(std::begin(OutputPath), std::end(OutputPath), '\0');
    std::strncpy(OutputPath, output.c_str(), sizeof OutputPath - 1);
    if (LoadGrayPlanes(source.c_str()) == LoadFailed) {
        return BMPBLUR_SOURCE_UNREADABLE;
    }
    if (edges) {
        DetectEdgesInPlanes(1);
    } else {
        testing::LiteralGaussianBlur();
    }
    const bool stored = StoreGrayImage();
    ReleasePlanes();
    return stored ? BMPBLUR_OK : BMPBLUR_OUTPUT_UNWRITABLE;
}

// The paths this processor runs, plain first.
const std::vector<const vectors::Kernels*>& RunningPaths() {
    static const std::vector<const vectors::Kernels*> running = [] {
        std::vector<const vectors::Kernels*> tables;
        for (const vectors::Path& path : vectors::Paths()) {
            if (path.Table != nullptr) {
                tables.push_back(path.Table);
            }
        }
        return tables;
    }();
    return running;
}

void CheckAgainstStages(std::int32_t result, const std::string& sourcePath,
                        const std::string& outputPath, bool edges) {
    const Globals job;
    vectors::Use(*RunningPaths().front());
    const std::string stagesPath = Scratch().File("stages.bmp");
    std::filesystem::remove(stagesPath);
    Check(Stages(sourcePath, stagesPath, edges) == result, "the stages give another result");
    Check(Globals{} == job, "the stages leave other globals");
    Check(Contents(outputPath) == Contents(stagesPath), "the stages write other bytes");
}

// ReadRgbArray against what LoadBmp gave: loaded, why not, and the pixels.
void CheckArrayRead(const std::string& sourcePath, std::uint32_t threads, BitmapImage& source,
                    bool loaded, const FileFailure& loadFailure) {
    std::vector<std::uint8_t> rgb;
    const RgbAllocation allocate = [&rgb](std::uint32_t width, std::uint32_t height) {
        rgb.resize(std::size_t{3} * width * height);
        return rgb.data();
    };
    FileFailure failure;
    const bool read = ReadRgbArray(sourcePath.c_str(), allocate, threads, failure);
    Check(read == loaded && failure.Reason() == loadFailure.Reason() &&
              failure.RowsRead == loadFailure.RowsRead,
          "the array reading and the reader answer otherwise");
    const std::uint8_t* pixel = rgb.data();
    for (std::int32_t y = 0; read && y < source.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < source.GetWidth(); ++x, pixel += 3) {
            const PixelRgba& expected = source.PixelAt(x, y);
            Check(pixel[0] == expected.Red && pixel[1] == expected.Green &&
                      pixel[2] == expected.Blue,
                  "the array reading gives other pixels");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RawHeader header(data, size);
    if (!WithinBudget(header.Width, header.Height, PixelBudget)) {
        return -1;
    }
    const std::string sourcePath = Scratch().File("source.bmp");
    const std::string outputPath = Scratch().File("output.bmp");
    WriteFile(sourcePath, data, size);
    std::filesystem::remove(outputPath);

    // Half the inputs through BMPBlur, which keeps small pictures on one thread; the other half
    // with two threads asked for, so that the strips of the blur run on both. The path from the
    // rest of the size.
    const vectors::Kernels& chosen = *RunningPaths()[size / 2 % RunningPaths().size()];
    vectors::Use(chosen);
    const std::u16string wideSource = Wide(sourcePath);
    const std::u16string wideOutput = Wide(outputPath);
    FileFailure jobFailure;
    const std::int32_t result =
        size % 2 == 0 ? BMPBlur(wideSource.c_str(), wideOutput.c_str())
                      : BlurFiles(wideSource.c_str(), wideOutput.c_str(), 2, jobFailure);
    CheckAgainstStages(result, sourcePath, outputPath, false);
    // The edge job, on the same path and threads.
    const std::string edgesPath = Scratch().File("edges.bmp");
    std::filesystem::remove(edgesPath);
    vectors::Use(chosen);
    FileFailure edgesFailure;
    const std::int32_t edges =
        DetectEdgesInFiles(sourcePath.c_str(), edgesPath.c_str(),
                           JobOptions{.Threads = size % 2 == 0 ? 1U : 2U}, edgesFailure);
    Check(edges == result, "the edge job and the blur give other results");
    CheckAgainstStages(edges, sourcePath, edgesPath, true);
    BitmapImage source;
    FileFailure loadFailure;
    const bool loaded = source.LoadBmp(sourcePath.c_str(), loadFailure);
    vectors::Use(chosen);
    CheckArrayRead(sourcePath, size % 2 == 0 ? 1 : 2, source, loaded, loadFailure);
    if (!loaded) {
        Check(result == BMPBLUR_SOURCE_UNREADABLE, "a rejected source did not give result 1");
        Check(size % 2 == 0 || jobFailure.Reason() == loadFailure.Reason(),
              "the job and the reader give other reasons");
        Check(!std::filesystem::exists(outputPath), "a rejected source left an output file");
        return 0;
    }
    Check(result == BMPBLUR_OK, "an accepted source did not give result 0");
    CheckOutput(source, outputPath);
    return 0;
}
