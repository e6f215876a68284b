#include "exit_codes.hpp"

namespace dorvane::cli {

const char* const ExitCodeHelp =
    "Exit status:\n"
    "  0   success\n"
    "  1   a source file could not be read\n"
    "  2   an output file could not be written, or would replace a source of the batch\n"
    "  3   an unusable argument (a path that is not UTF-8, a bad value, two sources of one\n"
    "      file name in a batch)\n"
    "  4   a batch's worker was killed by a signal\n"
    "  64  wrong usage (unknown command or option, missing operand, - in a batch)\n";

} // namespace dorvane::cli
