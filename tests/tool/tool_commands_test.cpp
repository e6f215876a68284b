#include "bitmap_image.hpp"
#include "platform.hpp"
#include "tool_runner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

using namespace dorvane;
using namespace dorvane::testing;

namespace {

const std::string Sample = std::string(DORVANE_SOURCE_DIR) + "/samples/landscape.bmp";

BitmapImage Load(const std::string& path) {
    BitmapImage image;
    EXPECT_TRUE(image.LoadBmp(path.c_str())) << path;
    return image;
}

} // namespace

TEST(ToolCommands, EdgesWritesABlackAndWhiteMapOfTheSourceSize) {
    TempDirectory folder;
    const ToolRun run = RunTool({"edges", Sample, folder.File("edges.bmp")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    BitmapImage edges = Load(folder.File("edges.bmp"));
    EXPECT_EQ(edges.GetWidth(), 384);
    EXPECT_EQ(edges.GetHeight(), 256);
    std::set<int> values;
    std::size_t edgeCells = 0;
    // Every cell is edge or background, the frame that hysteresis leaves alone included.
    for (std::int32_t x = 0; x < 384; ++x) {
        for (std::int32_t y = 0; y < 256; ++y) {
            values.insert(edges.PixelAt(x, y).Red);
            edgeCells += edges.PixelAt(x, y).Red == 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(values, (std::set<int>{0, 255}));
    EXPECT_GT(edgeCells, 1000U); // the sun, the hills, the house
    EXPECT_LT(edgeCells, 20000U);
}

TEST(ToolCommands, InfoListsEveryHeaderFieldByItsPublishedName) {
    const ToolRun run = RunTool({"info", Sample});
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (const char* line : {"bfType: 19778", "bfSize: 294966", "bfOffBits: 54", "biSize: 40",
                             "biWidth: 384", "biHeight: 256", "biPlanes: 1", "biBitCount: 24",
                             "biCompression: 0", "biSizeImage: 294912", "biXPelsPerMeter: 3780",
                             "biClrUsed: 0", "biClrImportant: 0", "bfReserved1: 0"}) {
        EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\n" << run.Out;
    }
    // Of several files each is listed as it would be alone, after an empty line; one that
    // cannot be read is named, and the status is its.
    const ToolRun several = RunTool({"info", Sample, "/no/such.bmp", Sample});
    EXPECT_EQ(several.Status, 1);
    EXPECT_EQ(several.Out, run.Out + "\n" + run.Out);
    EXPECT_EQ(several.Err, "bmpblur: /no/such.bmp: No such file or directory\n");

    // The notes after the values, and the height's order read from its sign.
    TempDirectory folder;
    std::ifstream sample(Sample, std::ios::binary);
    std::string topDown((std::istreambuf_iterator<char>(sample)), {});
    topDown.replace(22, 4, std::string("\x00\xFF\xFF\xFF", 4)); // -256
    const std::string flipped = folder.File("top-down.bmp");
    std::ofstream(flipped, std::ios::binary) << topDown;
    const ToolRun flippedRun = RunTool({"info", flipped});
    ASSERT_EQ(flippedRun.Status, 0) << flippedRun.Err;
    for (const char* line :
         {"    bfType: 19778 (BM)\n", "    bfOffBits: 54 (offset of the pixel rows)\n",
          "    biWidth: 384 (pixels)\n", "    biHeight: -256 (pixels, top-down)\n",
          "    biPlanes: 1\n", "    biCompression: 0 (BI_RGB)\n",
          "    biYPelsPerMeter: 3780 (pixels per metre)\n", "    biClrImportant: 0\n"}) {
        EXPECT_NE(flippedRun.Out.find(line), std::string::npos) << line << flippedRun.Out;
    }
    EXPECT_NE(run.Out.find("    biHeight: 256 (pixels, bottom-up)\n"), std::string::npos);
    const std::string empty = folder.File("empty");
    const std::string oneByte = folder.File("one-byte");
    const std::string headerless = folder.File("headerless");
    std::ofstream(empty).flush();
    std::ofstream(oneByte) << "B";
    const std::string jpeg = folder.File("photo.jpg");
    std::ofstream(jpeg, std::ios::binary) << "\xff\xd8\xff\xe0";
    std::ofstream(headerless) << "BM" << std::string(51, '\0'); // one byte short of both headers
    for (const auto& [path, reason] :
         {std::pair{std::string("/no/such.bmp"), "No such file or directory"},
          std::pair{empty, "empty file"}, std::pair{jpeg, "a JPEG file, not a BMP file"},
          std::pair{oneByte, "not a BMP file"}, std::pair{headerless, "not a BMP file"}}) {
        const ToolRun refused = RunTool({"info", path});
        EXPECT_EQ(refused.Status, 1);
        EXPECT_EQ(refused.Out, "");
        EXPECT_EQ(refused.Err, "bmpblur: " + path + ": " + reason + "\n");
    }
}

TEST(ToolCommands, ScaleWritesTwentyFourBitsAtTheNewSize) {
    TempDirectory folder;
    struct Case {
        std::vector<std::string> ModeAndValue;
        std::int32_t Width, Height;
    };
    for (const Case& c : {Case{{"P", "50"}, 192, 128}, Case{{"w", "100"}, 100, 66},
                          Case{{"H", "64"}, 96, 64}, Case{{"F", "48"}, 48, 32}}) {
        std::vector<std::string> arguments{"scale", Sample, folder.File("scaled.bmp")};
        arguments.insert(arguments.end(), c.ModeAndValue.begin(), c.ModeAndValue.end());
        const ToolRun run = RunTool(arguments);
        ASSERT_EQ(run.Status, 0) << run.Err;
        BitmapImage scaled = Load(folder.File("scaled.bmp"));
        EXPECT_EQ(scaled.GetWidth(), c.Width);
        EXPECT_EQ(scaled.GetHeight(), c.Height);
        EXPECT_EQ(scaled.GetBitDepth(), 24);
    }
    for (const auto& [mode, value] :
         {std::pair{"X", "50"}, std::pair{"PW", "50"}, std::pair{"P", "fifty"},
          std::pair{"W", "99999999999"}, std::pair{"W", "2000000000"}}) {
        const ToolRun run = RunTool({"scale", Sample, folder.File("bad.bmp"), mode, value});
        EXPECT_EQ(run.Status, 3) << mode << " " << value;
        EXPECT_FALSE(std::filesystem::exists(folder.File("bad.bmp")));
    }
}

// A few bytes that claim a long picture cost each job what the claimed rows cost, as they cost the
// blur: 54 bytes claiming a row of 16777216 pixels (the edge job once took 2 GiB for them, and
// scaling 5 GiB for a few more rows). Each job runs within 1 GiB of address space.
TEST(ToolCommands, HeaderBombsCostWhatTheirRowsCost) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "no address-space limit to run the tool within here";
#else
    TempDirectory folder;
    std::ifstream sample(Sample, std::ios::binary);
    std::string bomb(54, '\0');
    sample.read(bomb.data(), 54);
    bomb.replace(18, 8, std::string("\x00\x00\x00\x01\x01\x00\x00\x00", 8)); // 16777216 x 1
    const std::string path = folder.File("bomb.bmp");
    std::ofstream(path, std::ios::binary) << bomb;
    const std::string out = folder.File("out.bmp");
    for (const std::vector<std::string>& job : {std::vector<std::string>{path, out},
                                                {"edges", path, out},
                                                {"scale", path, out, "P", "50"}}) {
        const ToolRun run = RunTool(job, "ulimit -v 1048576; ");
        EXPECT_EQ(run.Status, 0) << job[0] << ": " << run.Err;
        EXPECT_EQ(run.Err, "bmpblur: " + path + ": warning: truncated, 0 of 1 rows read\n");
        std::filesystem::remove(out);
    }
#endif
}

// Each case is a batch of one odd source and two good ones, its options after the operands; the
// good ones are written whatever becomes of the odd one.
TEST(ToolCommands, BatchGoesOnPastABadFileAndReportsIt) {
    TempDirectory in;
    std::filesystem::copy_file(Sample, in.File("one.bmp"));
    std::filesystem::copy_file(Sample, in.File("two.bmp"));
    const std::string broken = in.File("broken.bmp");
    std::ofstream(broken) << "no picture here";
    // 100 of the sample's 256 rows of 1152 bytes, and part of the next.
    const std::string cut = in.File("cut.bmp");
    std::filesystem::copy_file(Sample, cut);
    std::filesystem::resize_file(cut, 54 + 100 * 1152 + 600);
    const std::string folder = in.File("folder");
    std::filesystem::create_directory(folder);
    struct Case {
        std::string Source;
        int Status;
        std::string Err;
        std::vector<std::string> Written;
        // Shell commands around the tool's command line.
        std::string Before = "";
        std::string After = "";
    };
    const std::vector<std::string> good{"one.bmp", "two.bmp"};
    std::vector<Case> cases{
        Case{broken, 1, "bmpblur: " + broken + ": not a BMP file\n", good},
        Case{folder + "/", 1, "bmpblur: " + folder + "/: Is a directory\n", good},
        Case{cut,
             0,
             "bmpblur: " + cut + ": warning: truncated, 100 of 256 rows read\n",
             {"cut.bmp", "one.bmp", "two.bmp"}},
    };
#if !defined(_WIN32)
    // A worker's messages beyond what a pipe holds (64 KiB): a path of 100 KB, which the system
    // refuses as a whole.
    std::string deep = in.Path.string();
    while (deep.size() < 100000) {
        deep += "/a";
    }
    const std::string fifo = in.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    cases.insert(
        cases.end(),
        {
            Case{deep, 1, "bmpblur: " + deep + ": File name too long\n", good},
            // A worker killed while it waits for its source; with -j 1 the tool's one child.
            Case{fifo, 4, "bmpblur: " + fifo + ": worker killed by signal SIGKILL\n", good, "",
                 " & tool=$!; until worker=$(grep -lx \"PPid:\t$tool\" /proc/[0-9]*/status "
                 "2>/dev/null); do sleep 0.05; done; worker=${worker#/proc/}; kill -KILL "
                 "${worker%/status}; wait $tool"},
            // A signal to the batch alone ends the worker too, which leaves no output.
            Case{fifo,
                 143,
                 "",
                 {},
                 "",
                 " & tool=$!; until worker=$(grep -lx \"PPid:\t$tool\" /proc/[0-9]*/status "
                 "2>/dev/null); do sleep 0.05; done; worker=${worker#/proc/}; "
                 "worker=${worker%/status}; kill -TERM $tool; wait $tool 2>/dev/null; status=$?; "
                 "sleep 0.5; "
                 "if grep -qs '^State:[[:space:]]*[^Z[:space:]]' /proc/$worker/status; then "
                 "echo worker left running >&2; kill -KILL $worker; fi; exit $status"},
            // A hangup that the caller ignores, as nohup does, while the worker waits.
            Case{fifo,
                 0,
                 "",
                 {"fifo", "one.bmp", "two.bmp"},
                 "trap '' HUP; (sleep 0.5; cat " + Quote(Sample) + " >" + Quote(fifo) + ") & ",
                 " & sleep 0.2; kill -HUP $!; wait $!"},
        });
#endif
    for (const Case& c : cases) {
        TempDirectory out;
        const std::vector<std::string> arguments{
            "blur", c.Source, in.File("one.bmp"), in.File("two.bmp"), "-o", out.Path.string(),
            "-j",   "1"};
#if defined(_WIN32)
        const ToolRun run = RunTool(arguments);
#else
        const ToolRun run = RunShell(c.Before + ToolCommand(arguments) + c.After);
#endif
        EXPECT_EQ(run.Status, c.Status) << c.Source.substr(0, 200);
        EXPECT_EQ(run.Err, c.Err);
        EXPECT_EQ(out.Entries(), c.Written);
        EXPECT_EQ(ReadText(out.File("one.bmp")), ReadText(out.File("two.bmp")));
    }

    // Options after the operands, as GNU tools take them.
    TempDirectory out;
    ASSERT_EQ(RunTool({"blur", "-o", out.Path.string(), in.File("one.bmp")}).Status, 0);
    const ToolRun single = RunTool({Sample, out.File("single.bmp"), "-j", "1", "--sync"});
    ASSERT_EQ(single.Status, 0) << single.Err;
    EXPECT_EQ(ReadText(out.File("one.bmp")), ReadText(out.File("single.bmp")));
}

TEST(ToolCommands, BatchRefusesTwoSourcesOfTheSameNameAndAMissingFolder) {
    TempDirectory in;
    TempDirectory out;
    std::filesystem::create_directory(in.Path / "a");
    std::filesystem::copy_file(Sample, in.File("a/pic.bmp"));
    std::filesystem::copy_file(Sample, in.File("pic.bmp"));
    const ToolRun run =
        RunTool({"edges", "-o", out.Path.string(), in.File("pic.bmp"), in.File("a/pic.bmp")});
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Err.find("same file name"), std::string::npos) << run.Err;
    EXPECT_EQ(out.Entries(), std::vector<std::string>{"pic.bmp"});

    // Nor is a source replaced, whatever path leads to it (cp refuses the same); the others go on.
    std::filesystem::copy_file(Sample, in.File("a/other.bmp"));
    const std::string again = Utf8(PathOf(in.File("a/..")) / "pic.bmp");
    const ToolRun own =
        RunTool({"edges", "-o", in.File("a/.."), in.File("pic.bmp"), in.File("a/other.bmp")});
    EXPECT_EQ(own.Status, 2);
    EXPECT_EQ(own.Err, "bmpblur: " + again + ": the same file as the source " + in.File("pic.bmp") +
                           "; not replaced\n");
    EXPECT_TRUE(ReadText(in.File("pic.bmp")) == ReadText(Sample));
    EXPECT_TRUE(ReadText(in.File("other.bmp")) == ReadText(out.File("pic.bmp")));

    // A missing folder is made, parents and all; a file in the way is not a folder.
    const ToolRun made = RunTool({"blur", "-o", out.File("new/deeper"), in.File("pic.bmp")});
    EXPECT_EQ(made.Status, 0) << made.Err;
    EXPECT_TRUE(std::filesystem::is_regular_file(out.File("new/deeper/pic.bmp")));
    const ToolRun blocked =
        RunTool({"blur", "-o", in.File("pic.bmp"), in.File("a/pic.bmp"), in.File("a/other.bmp")});
    EXPECT_EQ(blocked.Status, 2);
    EXPECT_EQ(blocked.Err, "bmpblur: " + in.File("pic.bmp") + ": Not a directory\n");
    EXPECT_EQ(RunTool({"blur", "-o", out.Path.string()}).Status, 64);
}

// The processes and threads the tool starts, as the system saw them: -j 1 never has two workers
// at once, and workers that fill the cores start no thread.
TEST(ToolCommands, WorkersAndTheirThreadsNeverExceedWhatWasAskedFor) {
#if defined(_WIN32)
    GTEST_SKIP() << "traces fork and clone with strace; a Windows batch runs in one process";
#else
    if (std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    TempDirectory in;
    TempDirectory out;
    std::vector<std::string> sources;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) {
        std::filesystem::copy_file(Sample, in.File(name));
        sources.push_back(in.File(name));
    }
    const std::string cores = std::to_string(platform::AvailableCores());
    for (const std::string& jobs : {std::string("1"), cores}) {
        const std::string log = out.File("trace-" + jobs);
        std::vector<std::string> arguments{"blur", "-j", jobs, "-o", out.File("j" + jobs)};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        // The leak checker of sanitizer builds cannot run under a tracer.
        const ToolRun run = RunShell("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e "
                                     "trace=clone,clone3,fork,vfork,wait4 -o " +
                                     Quote(log) + " " + ToolCommand(arguments));
        ASSERT_EQ(run.Status, 0) << run.Err;
        // Lines are "PID call(...) = RESULT"; a call another one interrupts comes in two lines,
        // "<unfinished ...>" and "<... call resumed>".
        static const std::regex created(R"(= [1-9][0-9]*$)");
        std::map<std::string, bool> pendingIsThread;
        std::ifstream trace(log);
        int alive = 0;
        int mostAlive = 0;
        int workers = 0;
        int threads = 0;
        for (std::string line; std::getline(trace, line);) {
            const std::string pid = line.substr(0, line.find(' '));
            const bool succeeded = std::regex_search(line, created);
            if (line.find("clone") != std::string::npos || line.find("fork") != std::string::npos) {
                bool isThread = line.find("CLONE_THREAD") != std::string::npos;
                if (line.find("<unfinished") != std::string::npos) {
                    pendingIsThread[pid] = isThread;
                    continue;
                }
                if (line.find("resumed>") != std::string::npos) {
                    isThread = pendingIsThread[pid];
                }
                if (succeeded && isThread) {
                    ++threads;
                } else if (succeeded) {
                    ++workers;
                    mostAlive = std::max(mostAlive, ++alive);
                }
            } else if (line.find("wait4") != std::string::npos && succeeded) {
                --alive;
            }
        }
        EXPECT_EQ(workers, 4) << jobs;
        if (jobs == cores) {
            EXPECT_EQ(threads, 0);
        }
        if (jobs == "1") {
            EXPECT_EQ(mostAlive, 1);
        }
    }
#endif
}
