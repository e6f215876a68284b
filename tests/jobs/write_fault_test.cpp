// Saves that fail part way, and saves next to hostile names. A save that runs into the file-size
// limit at any point (in the headers, the palette or masks, the rows, or at the final flush)
// returns false and leaves the file it was to replace byte for byte, with nothing else left in
// its folder; a save never follows symbolic links planted where its temporary files go.
#include "DorvaneBMPBlur.h"

#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "bmp_headers.hpp"
#include "bmp_writer.hpp"
#include "file_jobs.hpp"
#include "file_replacement.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace dorvane;
using namespace dorvane::testing;
namespace fs = std::filesystem;

namespace {
#if !defined(_WIN32)

constexpr int ChildCouldNotLimit = 90;

BitmapImage Picture(std::int32_t depth, std::int32_t width, std::int32_t height) {
    BitmapImage image;
    image.ChangeBitDepth(depth);
    image.SetDimensions(width, height);
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            image.PixelAt(x, y) =
                PixelRgba{static_cast<std::uint8_t>(7 * x), static_cast<std::uint8_t>(11 * y),
                          static_cast<std::uint8_t>(x + y), 0};
        }
    }
    return image;
}

// BMPBlur's job on up to threads threads; whether it reported success.
bool BlurOn(std::uint32_t threads, const std::u16string& source, const char* output) {
    const std::string name = output;
    const std::u16string wideOutput(name.begin(), name.end());
    return BlurFiles(source.c_str(), wideOutput.c_str(), threads) == BMPBLUR_OK;
}

// Runs body in a child whose files may not grow beyond limit bytes and returns its exit status.
// Writing past the limit then fails with EFBIG instead of killing the child with SIGXFSZ.
int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limits{limit, limit};
        _exit(setrlimit(RLIMIT_FSIZE, &limits) == 0 ? body() : ChildCouldNotLimit);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Child exit status of a save: 1 when it reported success, 0 when it reported failure.
int SaveInChild(const std::function<bool(const char*)>& save, const std::string& path,
                rlim_t limit) {
    return RunWithFileSizeLimit(limit, [&] { return save(path.c_str()) ? 1 : 0; });
}

int SaveInChild(const BitmapImage& image, const std::string& path, rlim_t limit) {
    return SaveInChild([&](const char* name) { return image.SaveBmp(name); }, path, limit);
}

struct Case {
    std::int32_t Depth;
    std::int32_t Width;
    std::int32_t Height;
};

// Linux's guard on links in shared sticky folders (fs.protected_symlinks), on while it lives, as
// most systems have it; it sets the guard back as it found it. On() false where it cannot be had.
class LinkGuard {
  public:
    LinkGuard() {
        std::ifstream(Setting) >> Found;
        if (Found == "0") {
            std::ofstream(Setting) << "1\n";
        }
        std::string now;
        std::ifstream(Setting) >> now;
        Active = now == "1";
    }
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;
    ~LinkGuard() {
        if (Found == "0") {
            std::ofstream(Setting) << "0\n";
        }
    }
    bool On() const { return Active; }

  private:
    static constexpr const char* Setting = "/proc/sys/fs/protected_symlinks";
    std::string Found;
    bool Active = false;
};

// A user who may write a sticky folder that everyone may write, as /tmp, swapping its own
// out.bmp there with its link to target until it is stopped; it only starts over when the name was
// taken from it. Where there are two processors or more, it has one to itself, ahead of whatever
// else runs there, and the caller's thread (with the tools it starts) the others, so that its swaps
// fall anywhere in a save however busy the machine is.
class Racer {
  public:
    Racer(const fs::path& folder, const fs::path& target, uid_t user) {
        ::sched_getaffinity(0, sizeof Allowed, &Allowed);
        int own = 0;
        while (own < CPU_SETSIZE - 1 && !CPU_ISSET(own, &Allowed)) {
            ++own;
        }
        cpu_set_t others = Allowed;
        CPU_CLR(own, &others);
        Apart = CPU_COUNT(&others) > 0;
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        Pid = ::fork();
        if (Pid == 0) {
            ::close(ready[0]);
            cpu_set_t mine;
            CPU_ZERO(&mine);
            CPU_SET(own, &mine);
            const int at = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (at < 0 ||
                (Apart && (::sched_setaffinity(0, sizeof mine, &mine) != 0 ||
                           ::setpriority(PRIO_PROCESS, 0, -20) != 0)) ||
                ::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) {
                ::_exit(ChildCouldNotLimit);
            }
            Swap(at, target, ready[1]);
        }
        ::close(ready[1]);
        if (Apart) {
            ::sched_setaffinity(0, sizeof others, &others);
        }
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1) {
            Stop();
        }
        ::close(ready[0]);
    }
    Racer(const Racer&) = delete;
    Racer& operator=(const Racer&) = delete;
    ~Racer() { Stop(); }

    bool Started() const { return Pid > 0; }

  private:
    [[noreturn]] static void Swap(int at, const fs::path& target, int ready) {
        for (bool told = false;;) {
            if (::renameat2(at, "out.bmp", at, "link", RENAME_EXCHANGE) == 0) {
                continue;
            }
            // A save replaced its file or its link: both are made again once the name is free.
            ::unlinkat(at, "link", 0);
            const int file = ::openat(at, "out.bmp", O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (file >= 0 && ::symlinkat(target.c_str(), at, "link") == 0 && !told) {
                told = ::write(ready, "r", 1) == 1;
            }
            if (file >= 0) {
                ::close(file);
            }
        }
    }

    void Stop() {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
            Pid = -1;
        }
        if (Apart) {
            ::sched_setaffinity(0, sizeof Allowed, &Allowed);
            Apart = false;
        }
    }

    pid_t Pid = -1;
    cpu_set_t Allowed{};
    bool Apart = false;
};

#endif
} // namespace

TEST(WriteFaults, AFileSizeLimitAnywhereInTheFileLeavesTheOldFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file-size limit to make a write fail";
#else
    const TempDirectory folder;
    const std::string path = folder.File("keep.bmp");
    // The last two are large pictures of several blocks of rows, the last block partly filled.
    for (const Case c : {Case{1, 9, 3}, Case{4, 5, 2}, Case{8, 6, 4}, Case{16, 5, 3},
                         Case{24, 7, 5}, Case{32, 3, 3}, Case{8, 401, 200}, Case{24, 301, 240}}) {
        const BitmapImage image = Picture(c.Depth, c.Width, c.Height);
        // The image itself, and a gray picture of its size, a byte a pixel, at its depth.
        Bytes grays(static_cast<std::size_t>(c.Width) * static_cast<std::size_t>(c.Height));
        for (std::size_t i = 0; i < grays.size(); ++i) {
            grays[i] = static_cast<std::uint8_t>(i * 13);
        }
        const GrayRows picture{grays.data(), static_cast<std::size_t>(c.Width), c.Width, c.Height};
        // And BMPBlur's job, which writes its own rows: in order on one thread, and at their
        // places from several.
        const TempDirectory sources;
        const std::string source = sources.File("source.bmp");
        ASSERT_TRUE(image.SaveBmp(source.c_str()));
        const std::u16string wideSource(source.begin(), source.end());
        const std::function<bool(const char*)> saves[] = {
            [&](const char* name) { return image.SaveBmp(name); },
            [&](const char* name) { return SaveGrayBmp(image, picture, name); },
            [&](const char* name) { return BlurOn(1, wideSource, name); },
            [&](const char* name) { return BlurOn(3, wideSource, name); }};
        for (const auto& save : saves) {
            const std::string which = &save == saves       ? "image"
                                      : &save == saves + 1 ? "gray rows"
                                      : &save == saves + 2 ? "blur on one thread"
                                                           : "blur on three threads";
            ASSERT_TRUE(save(path.c_str()));
            const Bytes wanted = ReadFileBytes(path);
            const std::size_t size = wanted.size();
            const std::size_t rows = GetU32(wanted, 10);

            WriteFileBytes(path, Bytes{'o', 'l', 'd'});
            fs::permissions(path, fs::perms{0640}, fs::perm_options::replace);
            // Nothing, inside the file header, at the end of the headers, in the palette or
            // masks, at the first row, inside it, half way and one byte short of the whole file.
            const std::size_t headers = HeadersSize;
            for (const std::size_t limit : std::vector<std::size_t>{
                     0, 1, 13, headers, headers + 5, rows, rows + 1, size / 2, size - 1}) {
                const std::string context =
                    which + ", " + std::to_string(c.Depth) + " bpp, limit " + std::to_string(limit);
                EXPECT_EQ(SaveInChild(save, path, limit), 0) << context;
                EXPECT_EQ(ReadFileBytes(path), (Bytes{'o', 'l', 'd'})) << context;
                EXPECT_EQ(fs::status(path).permissions(), fs::perms{0640}) << context;
                EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.bmp"}) << context;
            }
            // Exactly enough room: the file is replaced whole and keeps its permission bits.
            const std::string context = which + ", " + std::to_string(c.Depth) + " bpp";
            EXPECT_EQ(SaveInChild(save, path, size), 1) << context;
            EXPECT_EQ(ReadFileBytes(path), wanted) << context;
            EXPECT_EQ(fs::status(path).permissions(), fs::perms{0640}) << context;
            EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.bmp"}) << context;
        }
    }
#endif
}

TEST(WriteFaults, AFailedSaveThroughALinkLeavesTheLinkAndItsTarget) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    const TempDirectory folder;
    fs::create_directory(folder.Path / "real");
    const fs::path target = folder.Path / "real" / "target.bmp";
    WriteFileBytes(target, Bytes{1, 2, 3});
    fs::create_symlink("real/target.bmp", folder.Path / "link.bmp");
    EXPECT_EQ(SaveInChild(Picture(24, 40, 40), folder.File("link.bmp"), 1000), 0);
    EXPECT_TRUE(fs::is_symlink(folder.Path / "link.bmp"));
    EXPECT_EQ(fs::read_symlink(folder.Path / "link.bmp"), fs::path("real/target.bmp"));
    EXPECT_EQ(ReadFileBytes(target), (Bytes{1, 2, 3}));
    // The temporary file went next to the target, and is gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path / "real"), fs::directory_iterator{}),
              1);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"link.bmp", "real"}));
#endif
}

TEST(WriteFaults, ABlurThatCannotWriteItsOutputLeavesTheOldOutput) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file-size limit to make a write fail";
#else
    const TempDirectory folder;
    const std::string source = folder.File("in.bmp");
    ASSERT_TRUE(Picture(24, 60, 60).SaveBmp(source.c_str()));
    const std::string output = folder.File("out.bmp");
    WriteFileBytes(output, Bytes{'o', 'l', 'd'});
    const std::u16string wideSource(source.begin(), source.end());
    const std::u16string wideOutput(output.begin(), output.end());
    // The output needs 10854 bytes.
    const int code = RunWithFileSizeLimit(
        4000, [&] { return static_cast<int>(BMPBlur(wideSource.c_str(), wideOutput.c_str())); });
    EXPECT_EQ(code, BMPBLUR_OUTPUT_UNWRITABLE);
    EXPECT_EQ(ReadFileBytes(output), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
#endif
}

TEST(WriteFaults, LinksPlantedAtTemporaryNamesAreNeverFollowed) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    const TempDirectory folder;
    fs::create_directory(folder.Path / "elsewhere");
    const fs::path victim = folder.Path / "elsewhere" / "victim";
    const fs::path missing = folder.Path / "elsewhere" / "created-through-a-link";
    WriteFileBytes(victim, Bytes{'v'});
    // Names of the form that the writer's temporary files take, pointing at a file and at a
    // name that does not exist yet.
    const std::vector<std::string> planted{
        ".dorvane-save-0000000000000000.tmp", ".dorvane-save-ffffffffffffffff.tmp",
        ".dorvane-save-0123456789abcdef.tmp", "out.bmp.tmp", ".out.bmp.tmp"};
    for (std::size_t i = 0; i < planted.size(); ++i) {
        fs::create_symlink(i % 2 == 0 ? victim : missing, folder.Path / planted[i]);
    }
    const std::string path = folder.File("out.bmp");
    for (int save = 0; save < 50; ++save) {
        ASSERT_TRUE(Picture(8, 3 + save % 4, 2).SaveBmp(path.c_str()));
    }
    EXPECT_EQ(SaveInChild(Picture(24, 50, 50), path, 500), 0);

    EXPECT_EQ(ReadFileBytes(victim), Bytes{'v'});
    EXPECT_FALSE(fs::exists(missing));
    for (std::size_t i = 0; i < planted.size(); ++i) {
        EXPECT_TRUE(fs::is_symlink(folder.Path / planted[i])) << planted[i];
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(folder.Entries().size(), planted.size() + 2); // the links, out.bmp, elsewhere
#endif
}

TEST(WriteFaults, ATemporaryFileSwappedForALinkPassesItsModeToNothing) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
    const TempDirectory folder;
    const fs::path victim = folder.Path / "victim";
    WriteFileBytes(victim, Bytes{'v'});
    fs::permissions(victim, fs::perms{0600}, fs::perm_options::replace);
    const std::string path = folder.File("out.bmp");
    WriteFileBytes(path, Bytes{'o'});
    fs::permissions(path, fs::perms{0664}, fs::perm_options::replace);

    FileReplacement replacement(TemporaryFile::Named);
    ASSERT_TRUE(replacement.Open(path.c_str()));
    ASSERT_GE(std::fputs("new", replacement.Stream()), 0);
    // Anyone who may write the folder can put a link where the temporary file is: the mode of
    // the replaced file must go to the file that was written, not to what the name now leads to.
    const fs::path temporary = replacement.TemporaryPath();
    fs::remove(temporary);
    fs::create_symlink(victim, temporary);
    replacement.Commit();
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms{0600});
    EXPECT_EQ(ReadFileBytes(victim), Bytes{'v'});
#endif
}

// A user who may write a shared sticky folder swaps its own file at the output's name with its
// link to a file of root's while root blurs into it: the kernel would not follow that link
// for root, and no save follows it either, however the swaps fall.
TEST(WriteFaults, AUsersLinkSwappedInAtASharedOutputNeverLeadsASaveElsewhere) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no sticky folders and no users to race with";
#else
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the race needs root and another user: run the tests as root";
    }
    const LinkGuard guard;
    if (!guard.On()) {
        GTEST_SKIP() << "fs.protected_symlinks cannot be turned on here";
    }
    const TempDirectory folder;
    const std::string source = folder.File("small.bmp");
    ASSERT_TRUE(Picture(24, 3, 2).SaveBmp(source.c_str()));
    const fs::path victim = folder.Path / "root's.bmp";
    const Bytes original{'r', 'o', 'o', 't'};
    WriteFileBytes(victim, original);
    const fs::path shared = folder.Path / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
    const uid_t user = 65534;
    Racer racer(shared, victim, user);
    ASSERT_TRUE(racer.Started());

    const std::string output = (shared / "out.bmp").string();
    int replaced = 0;
    int refused = 0;
    struct ::stat before {};
    ASSERT_EQ(::stat(victim.c_str(), &before), 0);
    // The tool's job, called here: a tool started 1500 times takes minutes under emulation.
    for (int run = 0; run < 1500; ++run) {
        FileFailure failure;
        const std::int32_t result = BlurFiles(source.c_str(), output.c_str(), {1}, failure);
        ASSERT_TRUE(result == BMPBLUR_OK || failure.Kind == FailureKind::UntrustedLink)
            << failure.Reason();
        refused += result != BMPBLUR_OK;
        struct ::stat now {};
        if (::stat(victim.c_str(), &now) != 0 || now.st_ino != before.st_ino ||
            ReadFileBytes(victim) != original) {
            ++replaced;
            WriteFileBytes(victim, original);
            ::stat(victim.c_str(), &before);
        }
        // The name is the racer's again once root's new file is gone from it.
        struct ::stat there {};
        if (::lstat(output.c_str(), &there) == 0 && there.st_uid != user) {
            ::unlink(output.c_str());
        }
    }
    EXPECT_EQ(replaced, 0) << "of 1500 runs, " << refused << " refused";
    EXPECT_EQ(ReadFileBytes(victim), original);
    // Both outcomes came up: the race was run.
    EXPECT_GT(refused, 0);
    EXPECT_LT(refused, 1500);
#endif
}
