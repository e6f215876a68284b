#pragma once

#include "temp_directory.hpp"

#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
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

// Runs the bmpblur tool with the arguments and captures its exit status and both outputs.
inline ToolRun RunTool(const std::vector<std::string>& arguments) {
    TempDirectory scratch;
    std::string command = Quote(DORVANE_BMPBLUR_TOOL);
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    command +=
        " >" + Quote(scratch.File("out")) + " 2>" + Quote(scratch.File("err")) + " </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(scratch.File("out")),
            ReadText(scratch.File("err"))};
}

} // namespace dorvane::testing
