#include "exit_codes.hpp"

#include <algorithm>

namespace dorvane::cli {
namespace {

struct Meaning {
    ExitCode Code;
    const char* Lines;
};

constexpr Meaning Meanings[] = {
    {ExitOk, "  0   success\n"},
    {ExitSourceUnreadable, "  1   a source file could not be read\n"},
    {ExitOutputUnwritable,
     "  2   an output file could not be written, or would replace a source of the batch\n"},
    {ExitInvalidArgument,
     "  3   an unusable argument (a path that is not UTF-8, a bad value, two sources of one\n"
     "      file name in a batch)\n"},
    {ExitWorkerKilled, "  4   a batch's worker was killed by a signal\n"},
    {ExitUsage, "  64  wrong usage (unknown command or option, missing operand, - in a batch, -o\n"
                "      with a file's name, a scale VALUE below 1, standard output a terminal)\n"},
};

} // namespace

std::string ExitCodeHelp(std::span<const ExitCode> codes) {
    std::string help = "Exit status:\n";
    for (const Meaning& meaning : Meanings) {
        if (codes.empty() || std::ranges::find(codes, meaning.Code) != codes.end()) {
            help += meaning.Lines;
        }
    }
    return help;
}

} // namespace dorvane::cli
