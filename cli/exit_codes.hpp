#pragma once

#include <span>
#include <string>

namespace dorvane::cli {

// Exit statuses of bmpblur; the first four follow the results of BMPBlur.
enum ExitCode : int {
    ExitOk = 0,
    ExitSourceUnreadable = 1,
    ExitOutputUnwritable = 2,
    ExitInvalidArgument = 3,
    // A batch's worker was killed by a signal before it could say how its file went.
    ExitWorkerKilled = 4,
    ExitUsage = 64,
};

// The lines of --help that list the exit statuses: codes, or all of them when codes is empty.
std::string ExitCodeHelp(std::span<const ExitCode> codes = {});

} // namespace dorvane::cli
