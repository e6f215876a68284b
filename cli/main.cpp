// bmpblur: the command-line face of the library.
#include "blur_command.hpp"
#include "edges_command.hpp"
#include "exit_codes.hpp"
#include "info_command.hpp"
#include "scale_command.hpp"

#include <cstring>
#include <iostream>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace dorvane::cli;
using Arguments = std::vector<std::string>;

struct Command {
    const char* Name;
    const char* Usage;
    const char* Summary;
    std::size_t Operands;
    ExitCode (*Run)(const Arguments&);
};

const Command Commands[] = {
    {"blur", "blur SOURCE OUTPUT",
     "Turn SOURCE gray, smooth it with a 5 x 5 Gaussian and write it to OUTPUT at the source's "
     "size and bit depth (1, 4, 8, 16, 24 or 32 bits per pixel).",
     2, [](const Arguments& operands) { return BlurFile(operands[0], operands[1]); }},
    {"edges", "edges SOURCE OUTPUT",
     "Find the edges of SOURCE (blur, gradient, non-maximum suppression, hysteresis at 65 and "
     "80) and write the edge map to OUTPUT at the source's size and bit depth: edges black, "
     "background white.",
     2, [](const Arguments& operands) { return DetectEdges(operands[0], operands[1]); }},
    {"info", "info FILE",
     "Print the file header and the info header of a BMP file, one field a line, with the "
     "format's published field names.",
     1, [](const Arguments& operands) { return PrintHeaders(operands[0]); }},
    {"scale", "scale SOURCE OUTPUT MODE VALUE",
     "Resize SOURCE by bilinear sampling and write it to OUTPUT at 24 bits per pixel. MODE is P "
     "(VALUE is a percentage), W (the new width), H (the new height) or F (the new length of "
     "the longer side); the other side keeps the aspect ratio.",
     4,
     [](const Arguments& operands) {
         return ScaleFile(operands[0], operands[1], operands[2], operands[3]);
     }},
};

void PrintUsage(std::ostream& out) {
    out << "Usage: bmpblur SOURCE OUTPUT\n";
    for (const Command& command : Commands) {
        out << "       bmpblur " << command.Usage << '\n';
    }
    out << "       bmpblur COMMAND --help | --help | --version\n";
}

void PrintHelp() {
    PrintUsage(std::cout);
    std::cout << "\nGray Gaussian blur and more for BMP files. With two file operands and no "
                 "command, bmpblur blurs.\n\nCommands:\n";
    for (const Command& command : Commands) {
        std::cout << "  " << command.Name << "\t" << command.Summary << '\n';
    }
    std::cout << '\n' << ExitCodeHelp;
}

ExitCode UsageError(const std::string& message) {
    std::cerr << "bmpblur: " << message << '\n';
    PrintUsage(std::cerr);
    return ExitUsage;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands) {
        if (name == command.Name) {
            return &command;
        }
    }
    return nullptr;
}

ExitCode RunCommand(const Command& command, const Arguments& operands) {
    if (operands.size() == 1 && (operands[0] == "--help" || operands[0] == "-h")) {
        std::cout << "Usage: bmpblur " << command.Usage << "\n\n"
                  << command.Summary << "\n\n"
                  << ExitCodeHelp;
        return ExitOk;
    }
    if (operands.size() != command.Operands) {
        return UsageError(std::string(command.Name) + ": expected " +
                          std::to_string(command.Operands) + " operands, got " +
                          std::to_string(operands.size()));
    }
    return command.Run(operands);
}

} // namespace

int main(int argc, char** argv) {
    const Arguments arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        return UsageError("missing operands");
    }
    const std::string& first = arguments.front();
    if (first == "--help" || first == "-h") {
        PrintHelp();
        return ExitOk;
    }
    if (first == "--version") {
        std::cout << "bmpblur " << DORVANE_VERSION << '\n';
        return ExitOk;
    }
    if (const Command* command = FindCommand(first)) {
        return RunCommand(*command, Arguments(arguments.begin() + 1, arguments.end()));
    }
    if (first.starts_with("-") && first != "-") {
        return UsageError("unknown option " + first);
    }
    if (arguments.size() == 2) {
        return RunCommand(Commands[0], arguments);
    }
    if (arguments.size() == 1) {
        return UsageError("missing OUTPUT operand after " + first);
    }
    return UsageError("unknown command " + first);
}
