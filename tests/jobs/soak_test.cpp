// Many calls in a row and from many threads: nothing may accumulate and every output must be
// right. Leaks are caught by LeakSanitizer in the sanitizer build.
#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "temp_directory.hpp"
#include "tool_runner.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace dorvane;
using dorvane::testing::ReadText;
using dorvane::testing::TempDirectory;

namespace {

std::u16string Wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

void WritePicture(const std::string& path, std::int32_t depth, std::int32_t size) {
    BitmapImage image;
    ASSERT_TRUE(image.ChangeBitDepth(depth));
    ASSERT_TRUE(image.SetDimensions(size, size + 3));
    for (std::int32_t x = 0; x < size; ++x) {
        for (std::int32_t y = 0; y < size + 3; ++y) {
            image.PixelAt(x, y) = PixelRgba{static_cast<std::uint8_t>(x * 11 + y * 7),
                                            static_cast<std::uint8_t>(x * y), 90, 0};
        }
    }
    ASSERT_TRUE(image.SaveBmp(path.c_str()));
}

// Resident set size in pages, from the kernel's view of this process.
long ResidentPages() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident;
}

} // namespace

TEST(Soak, AThousandCallsInARowKeepMemoryFlat) {
    TempDirectory folder;
    const std::u16string source = Wide(folder.File("in.bmp"));
    const std::u16string output = Wide(folder.File("out.bmp"));
    WritePicture(folder.File("in.bmp"), 8, 40);
    long afterWarmUp = 0;
    for (int call = 0; call < 1000; ++call) {
        ASSERT_EQ(BMPBlur(source.c_str(), output.c_str()), BMPBLUR_OK) << call;
        if (call == 99) {
            afterWarmUp = ResidentPages();
        }
    }
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
    // The sanitizer holds released blocks back in quarantine (it reports leaks itself at exit);
    // Windows has no /proc to read the resident size from.
    (void)afterWarmUp;
#else
    // A leak of even one plane column per call (172 bytes) would add about 40 pages.
    EXPECT_LE(ResidentPages() - afterWarmUp, 16);
#endif
}

TEST(Soak, EightThreadsOfAHundredCallsAllGetTheirOwnResult) {
    TempDirectory folder;
    constexpr int Threads = 8;
    for (int t = 0; t < Threads; ++t) {
        const std::string name = std::to_string(t);
        WritePicture(folder.File("in" + name + ".bmp"), t % 2 == 0 ? 24 : 4, 10 + t);
        ASSERT_EQ(BMPBlur(Wide(folder.File("in" + name + ".bmp")).c_str(),
                          Wide(folder.File("expected" + name + ".bmp")).c_str()),
                  BMPBLUR_OK);
    }
    std::vector<int> wrong(Threads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = std::to_string(t);
            const std::u16string in = Wide(folder.File("in" + name + ".bmp"));
            const std::string out = folder.File("out" + name + ".bmp");
            const std::string expected = ReadText(folder.File("expected" + name + ".bmp"));
            for (int call = 0; call < 100; ++call) {
                if (BMPBlur(in.c_str(), Wide(out).c_str()) != BMPBLUR_OK ||
                    ReadText(out) != expected) {
                    ++wrong[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(Threads, 0));
}

// A child forked while another thread is inside a call runs calls of its own: the fork waits for
// the lock that the call holds instead of copying it locked.
TEST(Soak, AChildForkedDuringACallRunsItsOwnCalls) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork";
#else
    TempDirectory folder;
    WritePicture(folder.File("in.bmp"), 24, 300);
    const std::u16string in = Wide(folder.File("in.bmp"));
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop) {
            BMPBlur(in.c_str(), Wide(folder.File("busy.bmp")).c_str());
        }
    });
    std::vector<int> statuses;
    for (int child = 0; child < 10; ++child) {
        const pid_t process = ::fork();
        if (process == 0) {
            // A child that hangs is ended by the alarm, and counts as a failure.
            ::alarm(20);
            const std::u16string out = Wide(folder.File("child" + std::to_string(child) + ".bmp"));
            ::_exit(BMPBlur(in.c_str(), out.c_str()) == BMPBLUR_OK ? 0 : 1);
        }
        int status = -1;
        ::waitpid(process, &status, 0);
        statuses.push_back(status);
    }
    stop = true;
    busy.join();
    EXPECT_EQ(statuses, std::vector<int>(10, 0));
#endif
}
