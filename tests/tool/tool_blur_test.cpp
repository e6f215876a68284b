#include "bitmap_image.hpp"
#include "bmp_file_builder.hpp"
#include "kernels.hpp"
#include "tool_runner.hpp"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

const std::string Sample = std::string(DORVANE_SOURCE_DIR) + "/samples/landscape.bmp";

} // namespace

TEST(ToolBlur, BlursQuietlyWithOrWithoutTheCommandName) {
    TempDirectory folder;
    // Names beyond ASCII too: "Grüße" and "漢".
    const std::string source = folder.File("Gr\xc3\xbc\xc3\x9f"
                                           "e.bmp");
    std::filesystem::copy_file(Sample, PathOf(source));
    std::vector<std::vector<std::string>> runs{{Sample, folder.File("a.bmp")},
                                               {"blur", source, folder.File("b-\xe6\xbc\xa2.bmp")},
                                               {"-j2", Sample, folder.File("c.bmp")},
                                               {"blur", "--jobs=2", source, folder.File("d.BMP")}};
#if !defined(_WIN32)
    // A path of 300 bytes and more (Windows takes them only where long paths are switched on).
    const std::string longFolder = folder.File(std::string(100, 'd'));
    const std::string longOutput = longFolder + "/" + std::string(200, 'y') + ".bmp";
    std::filesystem::create_directory(longFolder);
    runs.push_back({"blur", source, longOutput});
#endif
    for (const std::vector<std::string>& arguments : runs) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "");
        EXPECT_TRUE(ReadText(arguments.back()) == ReadText(folder.File("a.bmp")))
            << arguments.back();
    }
    // Another extension than .bmp is written all the same, with a warning; no extension is no
    // claim of a format.
    for (const auto& [name, warning] :
         {std::pair{"e.jpg", ": warning: written as a BMP file, though its name ends in .jpg\n"},
          std::pair{"f.tar.PNG",
                    ": warning: written as a BMP file, though its name ends in .PNG\n"},
          std::pair{"g", ""}, std::pair{".bmp.d/h", ""}}) {
        std::filesystem::create_directory(folder.File(".bmp.d"));
        const std::string output = folder.File(name);
        const ToolRun run = RunTool({Sample, output});
        EXPECT_EQ(run.Status, 0);
        EXPECT_EQ(run.Err, *warning != '\0' ? "bmpblur: " + output + warning : "");
        EXPECT_TRUE(ReadText(output) == ReadText(folder.File("a.bmp"))) << name;
    }
    BitmapImage result;
    ASSERT_TRUE(result.LoadBmp(folder.File("a.bmp").c_str()));
    EXPECT_EQ(result.GetWidth(), 384);
    EXPECT_EQ(result.GetHeight(), 256);
    EXPECT_EQ(result.GetBitDepth(), 24);
}

// Every failure the tool can meet, with the exact reason that the library gives for it.
TEST(ToolBlur, FailuresNameTheFileAndTheReason) {
    TempDirectory folder;
    // Some cases run the tool without root's privileges, so the folder is everyone's.
    std::filesystem::permissions(folder.Path, std::filesystem::perms::all);
    const std::string suite = std::string(DORVANE_BMPSUITE_DIR) + "/";
    const std::string missing = folder.File("missing.bmp");
    const std::string text = folder.File("text.bmp");
    std::ofstream(text) << "hello";
    const std::string empty = folder.File("empty.bmp");
    std::ofstream(empty).flush();
    const std::string png = folder.File("photo.png");
    std::ofstream(png, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    const std::string shortHeader = folder.File("short.bmp");
    std::ofstream(shortHeader) << "BM0123456789abcdef";
    BmpFileBuilder headerPastPixels; // bfOffBits 54, within the 124-byte header
    headerPastPixels.biBitCount = 8;
    headerPastPixels.biSize = 124;
    const std::string pastPixels = folder.Write("past.bmp", headerPastPixels.Build());
    const std::string out = folder.File("o.bmp");
    struct Case {
        std::vector<std::string> Arguments;
        int Status;
        std::string Subject;
        std::string Reason;
        std::string Prefix = "";
    };
    std::vector<Case> cases{
        Case{{missing, out}, 1, missing, "No such file or directory"},
        Case{{folder.Path.string(), out}, 1, folder.Path.string(), "Is a directory"},
        Case{{text, out}, 1, text, "not a BMP file"},
        Case{{empty, out}, 1, empty, "empty file"},
        Case{{png, out}, 1, png, "a PNG file, not a BMP file"},
        Case{{shortHeader, out}, 1, shortHeader, "truncated BMP header"},
        Case{{suite + "g/pal8os2.bmp", out},
             1,
             suite + "g/pal8os2.bmp",
             "unsupported info header size 12 (an OS/2 core header)"},
        Case{{pastPixels, out},
             1,
             pastPixels,
             "info header size 124 runs past the pixel data at offset 54"},
        Case{{suite + "g/pal8rle.bmp", out},
             1,
             suite + "g/pal8rle.bmp",
             "RLE-compressed BMP files are not supported"},
        Case{{suite + "g/rgb32bf.bmp", out},
             1,
             suite + "g/rgb32bf.bmp",
             "unsupported compression 3 at 32 bits per pixel"},
        Case{{suite + "q/pal2.bmp", out}, 1, suite + "q/pal2.bmp", "unsupported bit depth 2"},
        Case{{suite + "g/pal8topdown.bmp", out},
             1,
             suite + "g/pal8topdown.bmp",
             "top-down BMP files are not supported"},
        Case{{suite + "b/badwidth.bmp", out},
             1,
             suite + "b/badwidth.bmp",
             "invalid image size -127 x 64"},
        Case{{suite + "b/reallybig.bmp", out},
             1,
             suite + "b/reallybig.bmp",
             "image too large (3000000 x 2000000 pixels; the limit is 16777216 on a side and "
             "268435456 in all)"},
        Case{{Sample, folder.File("no/such/out.bmp")},
             2,
             folder.File("no/such/out.bmp"),
             "No such file or directory"},
        Case{{Sample, folder.Path.string()}, 2, folder.Path.string(), "Is a directory"},
        // The tool has no limit of its own on a path's length.
        Case{{folder.File(std::string(250, 'x')), out},
             1,
             folder.File(std::string(250, 'x')),
             "No such file or directory"},
    };
    std::vector<std::string> left{"empty.bmp", "past.bmp", "photo.png", "short.bmp", "text.bmp"};
#if !defined(_WIN32)
    // Permission bits, symbolic links, /dev/full, ulimit and names that are not UTF-8 (a Windows
    // command line is UTF-16) are POSIX matters.
    const std::string locked = folder.File("locked.bmp");
    std::filesystem::copy_file(Sample, locked);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const std::string readOnly = folder.File("read-only");
    std::filesystem::create_directory(readOnly);
    std::filesystem::permissions(readOnly, std::filesystem::perms{0555});
    const std::string loop = folder.File("loop.bmp");
    std::filesystem::create_symlink("loop.bmp", loop);
    // A file that shell redirection could not write is not replaced either.
    const std::string readOnlyFile = folder.File("read-only.bmp");
    std::filesystem::copy_file(Sample, readOnlyFile);
    std::filesystem::permissions(readOnlyFile, std::filesystem::perms{0444});
    const std::string limit = "ulimit -f 8; ";
    // Another user's link in a shared sticky folder, as /tmp, is not followed for the caller.
    const std::string shared = folder.File("shared");
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared,
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    const std::string planted = shared + "/planted.bmp";
    std::filesystem::create_symlink(text, planted);
    if (::lchown(planted.c_str(), 65533, 65533) == 0) {
        cases.push_back(Case{{Sample, planted},
                             2,
                             planted,
                             "Permission denied (a symbolic link of another user in a shared "
                             "folder; not followed)"});
    }
    cases.insert(
        cases.end(),
        {
            Case{{locked, out}, 1, locked, "Permission denied", Unprivileged()},
            Case{{Sample, readOnly + "/o.bmp"},
                 2,
                 readOnly + "/o.bmp",
                 "Permission denied",
                 Unprivileged()},
            Case{{Sample, readOnlyFile}, 2, readOnlyFile, "Permission denied", Unprivileged()},
            Case{{Sample, loop}, 2, loop, "Too many levels of symbolic links"},
            Case{{Sample, "/dev/full"}, 2, "/dev/full", "write failed: No space left on device"},
            Case{{Sample, out}, 2, out, "write failed: File too large", limit},
            // A name of any bytes reaches the system, and stays on the message's one line.
            Case{{folder.File("\xff.bmp"), out},
                 1,
                 folder.File("\xff.bmp"),
                 "No such file or directory"},
            Case{{folder.File("new\nline.bmp"), out},
                 1,
                 folder.File("new\\x0aline.bmp"),
                 "No such file or directory"},
        });
    left.insert(left.end(), {"locked.bmp", "loop.bmp", "read-only", "read-only.bmp", "shared"});
#if defined(DORVANE_READ_FAULTS)
    // A disk that fails in the rows (or the headers) is a read failure, not a file cut short:
    // read in order (the sample), at the rows' places by two threads (a large picture), for the
    // edge map, the scaling and for the headers alone.
    BitmapImage large;
    ASSERT_TRUE(large.SetDimensions(2000, 1200));
    const std::string big = folder.File("big.bmp");
    ASSERT_TRUE(large.SaveBmp(big.c_str()));
    const auto failing = [](const std::string& file, std::int64_t from) {
        return "LD_PRELOAD=" + Quote(DORVANE_READ_FAULTS) +
               " DORVANE_READ_FAULT=" + Quote("EIO " + std::to_string(from) + " " + file) +
               " ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 ";
    };
    const std::string ioError = "read failed: Input/output error";
    cases.insert(
        cases.end(),
        {
            Case{{Sample, out}, 1, Sample, ioError, failing(Sample, 20000)},
            Case{{big, out}, 1, big, ioError, failing(big, 3'000'000)},
            Case{{"edges", Sample, out}, 1, Sample, ioError, failing(Sample, 20000)},
            Case{{"info", Sample}, 1, Sample, ioError, failing(Sample, 30)},
            // Scaling writes while it reads: a failed read stops it, nothing put out.
            Case{{"scale", Sample, out, "P", "70"}, 1, Sample, ioError, failing(Sample, 20000)},
            Case{{"scale", big, out, "P", "150"}, 1, big, ioError, failing(big, 3'000'000)},
        });
    left.push_back("big.bmp");
#endif
    std::sort(left.begin(), left.end());
#endif
    for (const Case& c : cases) {
#if defined(_WIN32)
        const ToolRun run = RunTool(c.Arguments);
#else
        if (!c.Prefix.empty() && c.Prefix == Unprivileged() &&
            RunShell(c.Prefix + "test -x " + Quote(DORVANE_BMPBLUR_TOOL) + " -a -r " +
                     Quote(Sample))
                    .Status != 0) {
            std::cerr << "without root's privileges the tool cannot be run here: " << c.Reason
                      << " not checked\n";
            continue;
        }
        const ToolRun run = RunTool(c.Arguments, c.Prefix);
#endif
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_EQ(run.Err, "bmpblur: " + c.Subject + ": " + c.Reason + "\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // Nothing was left behind anywhere.
    EXPECT_EQ(folder.Entries(), left);
}

// Whatever OUTPUT leads to, the bytes that arrive are those of a blur into a file.
TEST(ToolBlur, WritesPipesFifosAndStandardStreams) {
    TempDirectory folder;
#if defined(_WIN32)
    // Standard input and output have no path on Windows, so - is refused; a device such as NUL
    // is written directly (a temporary file could not be renamed onto it).
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{Sample, "-"}, std::vector<std::string>{"-", folder.File("o")},
          std::vector<std::string>{"edges", "-", "NUL"}, std::vector<std::string>{"info", "-"}}) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.Status, 3);
        EXPECT_EQ(run.Err, "bmpblur: -: standard input and output cannot be used on Windows; "
                           "name a file\n");
    }
    for (const char* const device : {"NUL", "nul"}) {
        const ToolRun run = RunTool({Sample, device});
        EXPECT_EQ(run.Status, 0) << device << ": " << run.Err;
    }
    EXPECT_TRUE(folder.Entries().empty());
#else
    const std::string tool = Quote(DORVANE_BMPBLUR_TOOL);
    const std::string sample = Quote(Sample);
    const std::string fifo = Quote(folder.File("fifo"));
    ASSERT_EQ(RunTool({Sample, folder.File("blurred.bmp")}).Status, 0);
    ASSERT_EQ(RunTool({"edges", Sample, folder.File("edges.bmp")}).Status, 0);
    ASSERT_EQ(RunTool({"scale", Sample, folder.File("scaled.bmp"), "P", "70"}).Status, 0);
    const std::string blurred = ReadText(folder.File("blurred.bmp"));
    const std::string edges = ReadText(folder.File("edges.bmp"));
    const std::string scaled = ReadText(folder.File("scaled.bmp"));
    // A file that the shell opened is written through its descriptor, as by any filter: what it
    // held before stays, appending appends, and a deleted one gets the bytes, not a new name.
    const std::string file = Quote(folder.File("f"));
#if defined(DORVANE_READ_FAULTS)
    const auto interrupted = [](const std::string& path) {
        return "LD_PRELOAD=" + Quote(DORVANE_READ_FAULTS) +
               " DORVANE_READ_FAULT=" + Quote("EINTR 0 " + path) +
               " ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 ";
    };
#endif
    struct Case {
        std::string Command;
        std::string Expected;
    };
    std::vector<Case> cases{
        Case{tool + " " + sample + " /dev/stdout | cat", blurred},
        Case{tool + " " + sample + " /proc/self/fd/1 | cat", blurred},
        Case{"cat " + sample + " | " + tool + " - - | cat", blurred},
        Case{"cat " + sample + " | " + tool + " /dev/stdin /dev/stdout", blurred},
        Case{tool + " " + sample + " -", blurred}, // standard output is a file
        Case{"cat " + sample + " | " + tool + " edges - - | cat", edges},
        // Scaling reads a pipe's rows in order, keeping only those still needed.
        Case{"cat " + sample + " | " + tool + " scale - - P 70 | cat", scaled},
        Case{tool + " scale " + sample + " /dev/stdout P 70 | cat", scaled},
        Case{"mkfifo " + fifo + " && { cat " + fifo + " & " + tool + " " + sample + " " + fifo +
                 "; wait; }",
             blurred},
        Case{"echo first >" + file + " && " + tool + " " + sample + " - >>" + file + " && cat " +
                 file,
             "first\n" + blurred},
        Case{"{ echo first; " + tool + " " + sample + " -; echo trailer; } >" + file + " && cat " +
                 file,
             "first\n" + blurred + "trailer\n"},
        Case{"exec 3>" + file + " && rm " + file + " && " + tool + " " + sample +
                 " /dev/fd/3 && cat /dev/fd/3",
             blurred},
    };
    // - reads standard input as it is, from where it stands, whatever it is: a file past its
    // first bytes, a socket, a file that only the caller could open.
    const std::string prefixed = Quote(folder.File("prefixed"));
    const std::string skipped = "{ dd bs=7 count=1 of=/dev/null 2>/dev/null; ";
    const std::string socket =
        "python3 -c 'import socket, subprocess, sys\na, b = socket.socketpair()\n"
        "tool = subprocess.Popen(sys.argv[2:], stdin=b)\n"
        "a.sendall(open(sys.argv[1], \"rb\").read()); a.shutdown(socket.SHUT_WR)\n"
        "sys.exit(tool.wait())' ";
    cases.insert(cases.end(),
                 {
                     Case{"(printf garbage; cat " + sample + ") >" + prefixed + " && " + skipped +
                              tool + " - -; } <" + prefixed + " | cat",
                          blurred},
                     Case{socket + sample + " " + tool + " edges - - | cat", edges},
                 });
    // Where the tool can be run by another user (not a wrapper only root may read, under qemu).
    if (::geteuid() == 0 &&
        RunShell(Unprivileged() + "test -x " + tool + " -a -r " + tool).Status == 0) {
        const std::string locked = folder.File("locked");
        std::filesystem::copy_file(Sample, locked);
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        cases.push_back({Unprivileged() + tool + " - - <" + Quote(locked) + " | cat", blurred});
    }
#if defined(DORVANE_READ_FAULTS)
    cases.insert(
        cases.end(),
        {
            // Reads interrupted by signals are taken up again, from a file and from a FIFO.
            Case{interrupted(Sample) + tool + " " + sample + " - | cat", blurred},
            Case{"mkfifo " + fifo + " && { cat " + sample + " >" + fifo + " & " +
                     interrupted(folder.File("fifo")) + tool + " " + fifo + " - | cat; wait; }",
                 blurred},
        });
#endif
    for (const Case& c : cases) {
        const ToolRun run = RunShell("cd " + Quote(folder.Path.string()) + " && " + c.Command);
        EXPECT_EQ(run.Status, 0) << c.Command << "\n" << run.Err;
        EXPECT_TRUE(run.Out == c.Expected) << c.Command << ": " << run.Out.size() << " bytes";
        std::filesystem::remove(folder.File("fifo"));
        std::filesystem::remove(folder.File("f"));
    }
    // A BMP file is not poured into a terminal, as gzip does not pour its output there.
    if (RunShell("script -V").Status == 0) {
        for (const std::string& arguments :
             {sample + " -", "edges " + sample + " -", "scale " + sample + " - P 50"}) {
            const ToolRun run =
                RunShell("script -qec " + Quote(tool + " " + arguments) + " /dev/null");
            EXPECT_EQ(run.Status, 64) << arguments;
            EXPECT_NE(run.Out.find("standard output is a terminal"), std::string::npos) << run.Out;
            EXPECT_EQ(run.Out.find("BM"), std::string::npos) << arguments;
        }
    }
    for (const std::string& command :
         {"cat " + sample + " | " + tool + " info -", skipped + tool + " info -; } <" + prefixed}) {
        const ToolRun info = RunShell(command);
        EXPECT_EQ(info.Status, 0) << command << "\n" << info.Err;
        EXPECT_NE(info.Out.find("File: standard input\n"), std::string::npos) << info.Out;
        EXPECT_NE(info.Out.find("biWidth: 384"), std::string::npos) << info.Out;
    }
    std::filesystem::remove(folder.File("prefixed"));
    std::filesystem::remove(folder.File("locked"));
    EXPECT_EQ(folder.Entries(),
              (std::vector<std::string>{"blurred.bmp", "edges.bmp", "scaled.bmp"}));
#endif
}

// A save stopped by a signal at any point leaves the destination as it was or complete, and no
// other file beside it.
TEST(ToolBlur, AStoppedSaveLeavesTheDestinationWholeAndNothingElse) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no signals to stop a process with, and no unnamed files";
#else
    TempDirectory in;
    TempDirectory out;
    const std::string source = in.File("large.bmp");
    BitmapImage large;
    ASSERT_TRUE(large.SetDimensions(2400, 1600));
    for (std::int32_t x = 0; x < 2400; ++x) {
        for (PixelRgba& pixel : large.Column(x)) {
            pixel = PixelRgba{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x / 7),
                              static_cast<std::uint8_t>(x / 13), 0};
        }
    }
    ASSERT_TRUE(large.SaveBmp(source.c_str()));
    ASSERT_EQ(RunTool({source, in.File("complete.bmp")}).Status, 0);
    const std::string complete = ReadText(in.File("complete.bmp"));
    const std::string destination = out.File("out.bmp");
    const std::string old = "the file as it was";
    for (const int signal : {SIGTERM, SIGKILL}) {
        for (const int delay : {0, 1, 2, 4, 8, 12, 16, 24, 32, 48, 64, 96}) {
            std::ofstream(destination, std::ios::binary | std::ios::trunc) << old;
            const pid_t child = ::fork();
            if (child == 0) {
                ::execl(DORVANE_BMPBLUR_TOOL, DORVANE_BMPBLUR_TOOL, source.c_str(),
                        destination.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            ASSERT_GT(child, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            ::kill(child, signal);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            const std::string now = ReadText(destination);
            EXPECT_TRUE(now == old || now == complete) << signal << " after " << delay << " ms";
            EXPECT_EQ(out.Entries(), std::vector<std::string>{"out.bmp"});
        }
    }
#endif
}

// Where the system stands in the way of the usual save: without /proc the unnamed file cannot be
// linked by name, and a file mounted over its name (as into a container) cannot be renamed over.
TEST(ToolBlur, SavesWithoutProcAndNamesAMountedDestination) {
#if defined(_WIN32)
    GTEST_SKIP() << "mount namespaces are Linux's";
#else
    if (RunShell("unshare -m true").Status != 0) {
        GTEST_SKIP() << "this machine lets no process make a mount namespace (unshare -m)";
    }
    TempDirectory folder;
    const std::string out = folder.File("out.bmp");
    ASSERT_EQ(RunTool({Sample, folder.File("expected.bmp")}).Status, 0);
    const std::string expected = ReadText(folder.File("expected.bmp"));
    const std::string mounted = folder.File("mounted.bmp");
    std::ofstream(mounted) << "mounted";
    const auto inNamespace = [](const std::string& setUp, const std::string& command) {
        return RunShell("unshare -m sh -c " + Quote(setUp + " && " + command));
    };
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime reads its options, and the leak checker the threads, from /proc.
    std::cerr << "a tool built with AddressSanitizer cannot run without /proc: not checked\n";
    std::ofstream(out) << "old";
#else
    for (const std::string& old : {std::string(), std::string("old")}) {
        if (!old.empty()) {
            std::ofstream(out) << old;
        }
        const ToolRun run = inNamespace("mount -t tmpfs none /proc", ToolCommand({Sample, out}));
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_TRUE(ReadText(out) == expected);
    }
#endif
    const ToolRun busy =
        inNamespace("mount --bind " + Quote(folder.File("expected.bmp")) + " " + Quote(mounted),
                    ToolCommand({Sample, mounted}));
    EXPECT_EQ(busy.Status, 2);
    EXPECT_EQ(busy.Err, "bmpblur: " + mounted +
                            ": cannot put the file in place: Device or resource busy (the "
                            "destination is a mount point)\n");
    EXPECT_EQ(ReadText(mounted), "mounted");
    EXPECT_EQ(folder.Entries(),
              (std::vector<std::string>{"expected.bmp", "mounted.bmp", "out.bmp"}));
#endif
}

// --sync: the new file reaches the disk before it is put in place, and its folder after; without
// it, nothing waits for the disk.
TEST(ToolBlur, SyncFlushesTheFileBeforeTheRenameAndTheFolderAfter) {
#if defined(_WIN32)
    GTEST_SKIP() << "traces system calls with strace";
#else
    if (std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    TempDirectory folder;
    const std::string log = folder.File("trace");
    for (const bool sync : {true, false}) {
        std::ofstream(folder.File("out.bmp")) << "the old file";
        std::vector<std::string> arguments{Sample, folder.File("out.bmp")};
        if (sync) {
            arguments.insert(arguments.begin(), "--sync");
        }
        const ToolRun run = RunShell("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e "
                                     "trace=fdatasync,fsync,linkat,rename,renameat,renameat2 -o " +
                                     Quote(log) + " " + ToolCommand(arguments));
        ASSERT_EQ(run.Status, 0) << run.Err;
        std::string calls;
        std::ifstream trace(log);
        for (std::string line; std::getline(trace, line);) {
            for (const char* call : {"fdatasync(", "fsync(", "linkat(", "rename"}) {
                if (line.find(call) != std::string::npos) {
                    calls += std::string(call).substr(0, std::string(call).find('(')) + " ";
                    break;
                }
            }
        }
        EXPECT_EQ(calls, sync ? "fdatasync linkat rename fsync " : "linkat rename ") << sync;
    }
#endif
}

// The line of --version after the version, with DORVANE_SIMD set to simd.
std::string VectorsLine(const std::string& simd) {
#if defined(_WIN32)
    ::SetEnvironmentVariableA("DORVANE_SIMD", simd.c_str());
    const ToolRun run = RunTool({"--version"});
    ::SetEnvironmentVariableA("DORVANE_SIMD", nullptr);
#else
    const ToolRun run = RunTool({"--version"}, "DORVANE_SIMD=" + Quote(simd) + " ");
#endif
    return run.Out.substr(run.Out.find('\n') + 1);
}

// Every path by name: one that this processor runs is the one in use; any other name leaves the
// fastest it runs in use, and says why.
TEST(ToolBlur, VersionNamesTheVectorPathThatDorvaneSimdAsksFor) {
    std::string fastest;
    for (const vectors::Path& path : vectors::Paths()) {
        if (path.Table != nullptr) {
            fastest = path.Name;
        }
    }
    for (const vectors::Path& path : vectors::Paths()) {
        const std::string name = path.Name;
        const std::string expected =
            path.Table != nullptr ? name
                                  : fastest + " (DORVANE_SIMD=" + name + ": " + path.Absence + ")";
        EXPECT_EQ(VectorsLine(name), "vectors: " + expected + "\n");
    }
    EXPECT_EQ(VectorsLine("mmx"), "vectors: " + fastest + " (DORVANE_SIMD=mmx: no such path)\n");
}

TEST(ToolBlur, HelpVersionAndUsageErrors) {
    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: bmpblur SOURCE OUTPUT"), std::string::npos);
    EXPECT_NE(help.Out.find("Exit status"), std::string::npos);

    const ToolRun blurHelp = RunTool({"blur", "--help"});
    EXPECT_EQ(blurHelp.Status, 0);
    EXPECT_NE(blurHelp.Out.find("Usage: bmpblur blur [-j N] [--sync] SOURCE OUTPUT"),
              std::string::npos);
    // Each command's help lists the statuses that it can return, and no other.
    for (const auto& [command, statuses] : {
             std::pair{"blur", "0 1 2 3 4 64 "}, std::pair{"edges", "0 1 2 3 4 64 "},
#if defined(_WIN32)
                 std::pair{"info", "0 1 3 64 "},
#else
          std::pair{"info", "0 1 64 "},
#endif
                 std::pair {
                 "scale", "0 1 2 3 64 "
             }
         }) {
        const std::string out = RunTool({command, "--help"}).Out;
        for (const std::string status : {"0", "1", "2", "3", "4", "64"}) {
            const std::size_t listed = (" " + std::string(statuses)).find(" " + status + " ");
            EXPECT_EQ(out.find("\n  " + status + " ") != std::string::npos,
                      listed != std::string::npos)
                << command << " " << status;
        }
    }

    const ToolRun version = RunTool({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("bmpblur ", 0), 0U);

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, std::vector<std::string>{"only-one.bmp"},
          std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"a", "b", "c"},
          std::vector<std::string>{"blur", "a"}, std::vector<std::string>{"-j", "0", "a", "b"},
          std::vector<std::string>{"blur", "-o", "out", "-j"},
          std::vector<std::string>{"a", "b", "--frobnicate"},
          // A batch names its outputs after its sources: - is neither a name nor a folder.
          std::vector<std::string>{"blur", "-o", "out", "-"},
          std::vector<std::string>{"edges", "a.bmp", "-o", "-"},
          // -o OUTPUT, the habit of gcc and sort, would make a folder of the file's name.
          std::vector<std::string>{Sample, "-o", "out.bmp"},
          std::vector<std::string>{"edges", "-o", Sample, Sample},
          std::vector<std::string>{"-j0", "a", "b"}, std::vector<std::string>{"a", "b", "--jobs=x"},
          // The library makes a side of one pixel of these; the tool takes them for slips.
          std::vector<std::string>{"scale", Sample, "s.bmp", "P", "-5"},
          std::vector<std::string>{"scale", Sample, "s.bmp", "W", "0"},
          std::vector<std::string>{"info"}}) {
        const ToolRun run = RunTool(wrong);
        EXPECT_EQ(run.Status, 64);
        EXPECT_EQ(run.Err.rfind("bmpblur: ", 0), 0U) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_FALSE(std::filesystem::exists("out.bmp"));
    EXPECT_FALSE(std::filesystem::exists("s.bmp"));
}
