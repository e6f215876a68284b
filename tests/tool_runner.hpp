#pragma once

#include "temp_directory.hpp"

#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace dorvane::testing {

struct ToolRun {
    int Status;
    std::string Out;
    std::string Err;
};

inline std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs a shell command line and captures its exit status and both outputs.
inline ToolRun RunShell(const std::string& command) {
    TempDirectory scratch;
    const std::string line = "{ " + command + "; } >" + Quote(scratch.File("out")) + " 2>" +
                             Quote(scratch.File("err")) + " </dev/null";
    const int raw = std::system(line.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(scratch.File("out")),
            ReadText(scratch.File("err"))};
}

inline std::string ToolCommand(const std::vector<std::string>& arguments) {
    std::string command = Quote(DORVANE_BMPBLUR_TOOL);
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    return command;
}

// Runs the bmpblur tool with the arguments and captures its exit status and both outputs. The
// prefix goes before the tool on the shell's command line (a ulimit, say).
inline ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& prefix = "") {
    return RunShell(prefix + ToolCommand(arguments));
}

// A prefix that runs the tool without the privileges of root, who may read and write anything;
// none for anyone else.
inline std::string Unprivileged() {
    return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

} // namespace dorvane::testing
