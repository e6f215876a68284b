#include "bitmap_image.hpp"
#include "tool_runner.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dorvane;
using namespace dorvane::testing;

namespace {

const std::string Sample = std::string(DORVANE_SOURCE_DIR) + "/samples/landscape.bmp";

} // namespace

TEST(ToolBlur, BlursQuietlyWithOrWithoutTheCommandName) {
    TempDirectory folder;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{Sample, folder.File("a.bmp")},
          std::vector<std::string>{"blur", Sample, folder.File("b.bmp")}}) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "");
    }
    EXPECT_EQ(ReadText(folder.File("a.bmp")), ReadText(folder.File("b.bmp")));
    BitmapImage result;
    ASSERT_TRUE(result.LoadBmp(folder.File("a.bmp").c_str()));
    EXPECT_EQ(result.GetWidth(), 384);
    EXPECT_EQ(result.GetHeight(), 256);
    EXPECT_EQ(result.GetBitDepth(), 24);
}

TEST(ToolBlur, FailuresNameTheFileAndTheReason) {
    TempDirectory folder;
    std::ofstream(folder.File("text.bmp")) << "hello";
    struct Case {
        std::vector<std::string> Arguments;
        int Status;
        std::string Message;
    };
    const std::string missing = folder.File("missing.bmp");
    const std::string text = folder.File("text.bmp");
    const std::string rle = std::string(DORVANE_BMPSUITE_DIR) + "/g/pal8rle.bmp";
    const std::string nowhere = folder.File("no/such/out.bmp");
    for (const Case& c : {
             Case{{missing, folder.File("o.bmp")},
                  1,
                  "bmpblur: " + missing + ": No such file or directory\n"},
             Case{{text, folder.File("o.bmp")}, 1, "bmpblur: " + text + ": not a BMP file\n"},
             Case{{rle, folder.File("o.bmp")},
                  1,
                  "bmpblur: " + rle + ": RLE-compressed BMP files are not supported\n"},
             Case{{Sample, nowhere}, 2, "bmpblur: " + nowhere + ": No such file or directory\n"},
             Case{{Sample, "/dev/full"},
                  2,
                  "bmpblur: /dev/full: write failed (is the disk full?)\n"},
             Case{{Sample, folder.File(std::string(210, 'x'))}, 3, "path too long"},
             Case{{Sample, folder.File("\xff.bmp")}, 3, "path is not valid UTF-8"},
         }) {
        const ToolRun run = RunTool(c.Arguments);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.File("o.bmp")));
}

TEST(ToolBlur, HelpVersionAndUsageErrors) {
    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: bmpblur SOURCE OUTPUT"), std::string::npos);
    EXPECT_NE(help.Out.find("Exit status"), std::string::npos);

    const ToolRun blurHelp = RunTool({"blur", "--help"});
    EXPECT_EQ(blurHelp.Status, 0);
    EXPECT_NE(blurHelp.Out.find("Usage: bmpblur blur SOURCE OUTPUT"), std::string::npos);

    const ToolRun version = RunTool({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("bmpblur ", 0), 0U);

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, std::vector<std::string>{"only-one.bmp"},
          std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"a", "b", "c"},
          std::vector<std::string>{"blur", "a"}}) {
        const ToolRun run = RunTool(wrong);
        EXPECT_EQ(run.Status, 64);
        EXPECT_EQ(run.Err.rfind("bmpblur: ", 0), 0U) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
}
