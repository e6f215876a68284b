// Runs in its own binary, whose global allocation operators count and fail on demand.
#include "DorvaneBMPBlur.h"
#include "array_files.hpp"
#include "array_jobs.hpp"

#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "counting_allocator.hpp"
#include "file_jobs.hpp"
#include "gray_planes.hpp"
#include "large_block.hpp"
#include "memory_jobs.hpp"
#include "pipeline_state.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

std::u16string Wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

// BMPBlur, whose allocations this binary's operators see. A DLL keeps the operators it was linked
// with, so on Windows the calls go to the same job linked in here.
std::int32_t Blur(const char16_t* source, const char16_t* output) {
#if defined(_WIN32)
    return BlurFiles(source, output);
#else
    return BMPBlur(source, output);
#endif
}

void WritePicture(const std::string& path, std::int32_t depth, std::int32_t width,
                  std::int32_t height) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(depth));
    ASSERT_TRUE(image.SetDimensions(width, height));
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            const auto v = static_cast<std::uint8_t>(x * 29 + y * 53);
            image.PixelAt(x, y) = PixelRgba{v, static_cast<std::uint8_t>(v / 2), 200, 0};
        }
    }
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
}

std::vector<const void*> Sorted(const void* const* first, const void* const* last) {
    std::vector<const void*> blocks(first, last);
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

std::vector<const void*> AllocatedBlocks(const AllocationLog& log) {
    std::vector<const void*> blocks;
    for (std::size_t i = 0; i < log.AllocatedCount; ++i) {
        blocks.push_back(log.Allocated[i].Block);
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

// Every block allocated while recording was released exactly once, and nothing else was.
// Blocks may be reused after release, so the two are compared as multisets.
void ExpectBalanced(const AllocationLog& log) {
    ASSERT_FALSE(log.Overflowed);
    EXPECT_EQ(AllocatedBlocks(log), Sorted(log.Released, log.Released + log.ReleasedCount));
}

// Every block allocated while recording was released; blocks that existed before may have been
// released too (an image replacing its storage).
void ExpectNoLeak(const AllocationLog& log) {
    ASSERT_FALSE(log.Overflowed);
    const auto released = Sorted(log.Released, log.Released + log.ReleasedCount);
    const auto allocated = AllocatedBlocks(log);
    EXPECT_TRUE(
        std::includes(released.begin(), released.end(), allocated.begin(), allocated.end()));
}

std::size_t BlocksOfSize(const AllocationLog& log, std::size_t size) {
    return static_cast<std::size_t>(
        std::count_if(log.Allocated, log.Allocated + log.AllocatedCount,
                      [&](const AllocationRecord& record) { return record.Size == size; }));
}

// Runs prepare, then operation with its n-th allocation failing, for n = 1, 2, ... until it no
// longer allocates that many times. An operation that met a failed allocation must report failure;
// either way what it allocated must be released by the time check, run with allocation working
// again, has looked at the outcome.
void FailEachAllocation(const std::function<void()>& prepare,
                        const std::function<bool()>& operation,
                        const std::function<void(bool succeeded)>& check) {
    for (std::size_t n = 1;; ++n) {
        prepare();
        FailAllocation(n);
        StartRecording();
        const bool succeeded = operation();
        const bool failedAllocation = AllocationsSinceArmed() >= n;
        FailAllocation(0);
        check(succeeded); // releases what the operation left alive
        StopRecording();
        ExpectNoLeak(Log());
        EXPECT_NE(succeeded, failedAllocation) << "allocation " << n;
        if (!failedAllocation || ::testing::Test::HasFailure()) {
            return;
        }
    }
}

} // namespace

TEST(Allocation, EveryBlockOfACallIsReleasedExactlyOnce) {
    TempDirectory folder;
    struct Size {
        std::int32_t Width, Height;
    };
    // Square, tall, wide, and two calls in a row of different sizes; each picture is over a
    // thousand bytes, a size no other block of a call takes by chance (under Wine, eight blocks
    // of 64 bytes once met an 8 x 8 picture).
    for (const Size size : {Size{36, 36}, Size{25, 61}, Size{61, 25}, Size{30, 37}}) {
        const std::string source = folder.File("in.bmp");
        WritePicture(source, 24, size.Width, size.Height);
        StartRecording();
        const std::int32_t result =
            Blur(Wide(source).c_str(), Wide(folder.File("out.bmp")).c_str());
        StopRecording();
        ASSERT_EQ(result, BMPBLUR_OK);
        ExpectBalanced(Log());
        const auto width = static_cast<std::size_t>(size.Width);
        // The call's gray picture, a byte per pixel (and the buffers of its one group of rows,
        // which hold a picture this small whole).
        EXPECT_GE(BlocksOfSize(Log(), width * static_cast<std::size_t>(size.Height)), 1U);

        // The stages' planes, for those who drive them.
        StartRecording();
        ASSERT_EQ(LoadGrayPlanes(source.c_str()), 0);
        ReleasePlanes();
        StopRecording();
        ExpectBalanced(Log());
        const auto column = static_cast<std::size_t>(size.Height) * 4;
        // Three planes of column blocks and their pointer arrays, besides the images' columns.
        EXPECT_GE(BlocksOfSize(Log(), column), 3 * width);
        EXPECT_GE(BlocksOfSize(Log(), width * sizeof(void*)), 3U);
    }
}

// Whatever a header claims, a call takes the gray picture, a byte per pixel, and a few MiB
// besides: no buffer of a group of rows or of a file row may grow with the width beyond that.
// Headers without rows of the widest and the tallest picture, at the depths that the job reads
// itself and those it takes from the codec's blocks; on one thread and on three.
TEST(Allocation, ACallTakesThePictureAndAFewMiBBesides) {
    TempDirectory folder;
    struct Shape {
        std::int32_t Width, Height;
        std::uint16_t Depth;
    };
    constexpr std::size_t FewMiB = std::size_t{12} << 20;
    for (const Shape shape : {Shape{1 << 24, 1, 32}, Shape{1, 1 << 24, 32}, Shape{1 << 24, 1, 24},
                              Shape{1 << 24, 1, 16}, Shape{1 << 24, 1, 4}, Shape{1 << 24, 1, 1}}) {
        BmpFileBuilder header;
        header.biWidth = shape.Width;
        header.biHeight = shape.Height;
        header.biBitCount = shape.Depth;
        const std::u16string source = Wide(folder.Write("in.bmp", header.Build()));
        const std::u16string output = Wide(folder.File("out.bmp"));
        const std::size_t picture =
            static_cast<std::size_t>(shape.Width) * static_cast<std::size_t>(shape.Height);
        for (const std::uint32_t threads : {1U, 3U}) {
            StartRecording();
            const std::int32_t result = BlurFiles(source.c_str(), output.c_str(), threads);
            StopRecording();
            const std::string context =
                std::to_string(shape.Width) + " x " + std::to_string(shape.Height) + " at " +
                std::to_string(shape.Depth) + " bpp, " + std::to_string(threads) + " threads";
            ASSERT_EQ(result, BMPBLUR_OK) << context;
            ExpectBalanced(Log());
            EXPECT_LE(Log().PeakBytes, picture + FewMiB) << context;
        }
    }
}

// A block rounded up to whole large pages: sizes near the address space's end are refused, not
// wrapped around to a small block.
TEST(Allocation, ALargeBlockBeyondTheAddressSpaceIsEmpty) {
    constexpr std::size_t Most = std::numeric_limits<std::size_t>::max();
    for (const std::size_t size : {Most, Most - 1, Most - (std::size_t{1} << 21) + 2}) {
        EXPECT_FALSE(AllocateLargeBlock(size)) << size;
    }
    const LargeBlock block = AllocateLargeBlock((std::size_t{5} << 20) + 3);
    ASSERT_TRUE(block);
    block[(std::size_t{5} << 20) + 2] = 1;
}

TEST(Allocation, AFailedCallReleasesEverything) {
    TempDirectory folder;
    StartRecording();
    EXPECT_EQ(Blur(Wide(folder.File("missing.bmp")).c_str(), Wide(folder.File("o.bmp")).c_str()),
              BMPBLUR_SOURCE_UNREADABLE);
    StopRecording();
    ExpectBalanced(Log());
}

TEST(Allocation, LoadWithAnyAllocationFailingFailsCleanly) {
    TempDirectory folder;
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        const std::string path = folder.File("in" + std::to_string(depth) + ".bmp");
        WritePicture(path, depth, 7, 5);
        std::optional<BitmapImage> image;
        FailEachAllocation(
            [&] {
                image.emplace(); // constructed before the failure is armed
            },
            [&] { return image->LoadBmp(path.c_str()); },
            [&](bool loaded) {
                EXPECT_EQ(image->GetWidth(), loaded ? 7 : 1);
                EXPECT_EQ(image->GetBitDepth(), loaded ? depth : 1);
                image.reset();
            });
        // The arrays' reading, which reads 8, 24 and 32 bpp rows itself, on one thread and on
        // three.
        for (const std::uint32_t threads : {1U, 3U}) {
            std::unique_ptr<std::uint8_t[]> pixels;
            const RgbAllocation allocate = [&pixels](std::uint32_t width, std::uint32_t height) {
                pixels.reset(new (std::nothrow) std::uint8_t[std::size_t{3} * width * height]);
                return pixels.get();
            };
            FileFailure failure;
            FailEachAllocation(
                [] {}, [&] { return ReadRgbArray(path.c_str(), allocate, threads, failure); },
                [&](bool read) {
                    EXPECT_EQ(failure.Kind == FailureKind::OutOfMemory, !read) << failure.Reason();
                    pixels.reset();
                });
        }
    }
}

TEST(Allocation, SaveWithAnyAllocationFailingLeavesTheOldFile) {
    TempDirectory folder;
    const std::string path = folder.File("out.bmp");
    WritePicture(path, 24, 3, 3);
    const auto before = std::filesystem::file_size(path);
    for (const std::int32_t depth : {1, 4, 8, 16, 24, 32}) {
        BitmapImage image;
        ASSERT_TRUE(image.ChangeBitDepth(depth));
        ASSERT_TRUE(image.SetDimensions(9, 4));
        const auto restore = [&](bool saved) {
            if (saved) {
                WritePicture(path, 24, 3, 3); // the old file again
            }
            EXPECT_EQ(std::filesystem::file_size(path), before);
        };
        // Memory running out is said as when reading, with the output named.
        FileFailure failure;
        const auto restoreAndSay = [&](bool saved) {
            restore(saved);
            EXPECT_EQ(failure.Kind, saved ? FailureKind::None : FailureKind::OutOfMemory);
            EXPECT_EQ(failure.File, saved ? FailedFile::None : FailedFile::Output);
        };
        FailEachAllocation([] {}, [&] { return image.SaveBmp(path.c_str(), failure); },
                           restoreAndSay);
        // The arrays' writing, gray and colour, on one thread and on three.
        const std::vector<std::uint8_t> pixels(3 * 9 * 4, 100);
        for (const std::uint32_t channels : {1U, 3U}) {
            for (const std::uint32_t threads : {1U, 3U}) {
                FailEachAllocation([] {},
                                   [&] {
                                       return WriteArray({pixels.data(), 9, 4, channels}, depth,
                                                         path.c_str(), threads, failure);
                                   },
                                   restoreAndSay);
            }
        }
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"out.bmp"});
    }
}

// The array stages say that memory ran out, as the file jobs do, and leave the picture alone.
TEST(Allocation, ArrayStagesWithAnyAllocationFailingSayWhy) {
    constexpr std::uint32_t width = 40;
    constexpr std::uint32_t height = 30;
    std::vector<std::uint8_t> source(std::size_t{width} * height);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<std::uint8_t>(i * 37 % 251);
    }
    using Stage = bool (*)(const std::uint8_t*, const GrayArray&, std::uint32_t, FileFailure&);
    for (const Stage stage : {Stage{BlurGrayArray}, Stage{DetectEdgesInGrayArray}}) {
        std::vector<std::uint8_t> picture(source.size());
        FileFailure failure;
        FailEachAllocation(
            [&] { std::fill(picture.begin(), picture.end(), std::uint8_t{7}); },
            [&] {
                return stage(source.data(), GrayArray{picture.data(), width, height}, 1, failure);
            },
            [&](bool done) {
                EXPECT_EQ(failure.Kind, done ? FailureKind::None : FailureKind::OutOfMemory);
                if (!done) {
                    EXPECT_EQ(failure.Reason(), "not enough memory for a 40 x 30 image");
                    EXPECT_EQ(std::count(picture.begin(), picture.end(), 7),
                              static_cast<std::ptrdiff_t>(picture.size()));
                }
            });
    }
}

// The blur, and the edge job, whose map takes memory of its own after the load.
TEST(Allocation, BlurWithAnyAllocationFailingReportsFailureAndCleansUp) {
    TempDirectory folder;
    const std::string source = folder.File("in.bmp");
    WritePicture(source, 8, 9, 6);
    const std::u16string in = Wide(source);
    const std::u16string out = Wide(folder.File("out.bmp"));
    const auto edges = [](const char16_t* from, const char16_t* to) {
        FileFailure failure;
        const std::int32_t result = DetectEdgesInFiles(from, to, 0, failure);
        // Memory runs out on the way in or on the way out: the one kind says so either way.
        if (result == BMPBLUR_SOURCE_UNREADABLE) {
            EXPECT_EQ(failure.Kind, FailureKind::OutOfMemory) << failure.Reason();
        }
        if (failure.Kind == FailureKind::OutOfMemory) {
            EXPECT_NE(result, BMPBLUR_OK);
        }
        return result;
    };
    for (const std::function<std::int32_t(const char16_t*, const char16_t*)>& job :
         {std::function(Blur), std::function(edges)}) {
        FailEachAllocation([] {}, [&] { return job(in.c_str(), out.c_str()) == BMPBLUR_OK; },
                           [&](bool done) {
                               EXPECT_EQ(std::filesystem::exists(folder.File("out.bmp")), done);
                               std::filesystem::remove(folder.File("out.bmp"));
                           });
    }
}

// The jobs on bytes: memory that runs out anywhere is the one kind, whichever side it is on, and
// leaves no output.
TEST(Allocation, BytesJobsWithAnyAllocationFailingSayOutOfMemory) {
    TempDirectory folder;
    const std::string path = folder.File("in.bmp");
    WritePicture(path, 8, 9, 6);
    const Bytes source = ReadFileBytes(path);
    std::vector<std::uint8_t> output;
    FileFailure failure;
    using Job = std::function<std::int32_t()>;
    const Job jobs[] = {
        [&] { return BlurBytes(source, output, {1}, failure); },
        [&] { return DetectEdgesInBytes(source, output, {1}, failure); },
        [&] { return ScaleBytes(source, output, 'P', 150, {1}, failure); },
    };
    for (const Job& job : jobs) {
        FailEachAllocation([] {}, [&] { return job() == BMPBLUR_OK; },
                           [&](bool done) {
                               EXPECT_EQ(failure.Kind == FailureKind::OutOfMemory, !done)
                                   << failure.Reason();
                               EXPECT_EQ(output.empty(), !done);
                               std::vector<std::uint8_t>().swap(output);
                           });
    }
}

// A larger picture, read and written in several blocks of rows and blurred in several strips: a
// failure anywhere fails the call and leaves nothing behind.
TEST(Allocation, LargeBlurWithAnAllocationFailingReportsFailureAndCleansUp) {
    TempDirectory folder;
    for (const std::int32_t depth : {24, 8}) {
        const std::string source = folder.File("in.bmp");
        WritePicture(source, depth, 320, 240);
        const std::u16string in = Wide(source);
        const std::u16string out = Wide(folder.File("out.bmp"));
        // BMPBlur keeps a picture this small on one thread; on three, a thread that cannot get
        // its buffers leaves its share to the others, and the call still succeeds, whole.
        for (const std::uint32_t threads : {0U, 3U}) {
            const auto blur = [&] {
                return threads == 0 ? Blur(in.c_str(), out.c_str())
                                    : BlurFiles(in.c_str(), out.c_str(), threads);
            };
            FailAllocation(0);
            ASSERT_EQ(blur(), BMPBLUR_OK);
            const Bytes whole = ReadFileBytes(folder.File("out.bmp"));
            const std::size_t total = AllocationsSinceArmed();
            std::filesystem::remove(folder.File("out.bmp"));
            // Spread over the call, and every one of the last twenty, the save's.
            std::vector<std::size_t> failing = {1, 2, 5, total / 4, total / 2, 3 * total / 4};
            for (std::size_t n = total - 19; n <= total + 1; ++n) {
                failing.push_back(n);
            }
            for (const std::size_t n : failing) {
                const std::string context = std::to_string(depth) + " bpp, " +
                                            std::to_string(threads) + " threads, allocation " +
                                            std::to_string(n);
                FailAllocation(n);
                StartRecording();
                const std::int32_t result = blur();
                const bool failedAllocation = AllocationsSinceArmed() >= n;
                FailAllocation(0);
                StopRecording();
                ExpectBalanced(Log());
                if (threads == 0 || result != BMPBLUR_OK) {
                    EXPECT_EQ(result == BMPBLUR_OK, !failedAllocation) << context;
                }
                EXPECT_EQ(std::filesystem::exists(folder.File("out.bmp")), result == BMPBLUR_OK)
                    << context;
                if (result == BMPBLUR_OK) {
                    EXPECT_EQ(ReadFileBytes(folder.File("out.bmp")), whole) << context;
                }
                std::filesystem::remove(folder.File("out.bmp"));
            }
        }
    }
}
