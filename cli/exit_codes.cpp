#include "exit_codes.hpp"

namespace dorvane::cli {

const char* const ExitCodeHelp =
    "Exit status:\n"
    "  0   success\n"
    "  1   a source file could not be read\n"
    "  2   an output file could not be written\n"
    "  3   an unusable argument (invalid or too long path, bad value)\n"
    "  64  wrong usage (unknown command or option, missing operand)\n";

} // namespace dorvane::cli
