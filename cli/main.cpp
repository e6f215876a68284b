// bmpblur: the command-line face of the library.
#include "batch.hpp"
#include "exit_codes.hpp"
#include "file_replacement.hpp"
#include "info_command.hpp"
#include "path_conversion.hpp"
#include "pipeline_commands.hpp"
#include "scale_command.hpp"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
    // Set for commands that take a SOURCE and an OUTPUT and so can work on many files at once.
    FileJob PerFile;
};

const Command Commands[] = {
    {"blur", "blur [-j N] SOURCE OUTPUT\n       bmpblur blur [-j N] -o FOLDER SOURCE...",
     "Turn SOURCE gray, smooth it with a 5 x 5 Gaussian and write it to OUTPUT at the source's "
     "size and bit depth (1, 4, 8, 16, 24 or 32 bits per pixel). A SOURCE or OUTPUT of - is "
     "standard input or output. With -o, every SOURCE is written to FOLDER (created when "
     "missing) under its own file name, by N workers (-j N or --jobs N; one per core by "
     "default); without -o, -j N limits the job to N threads.",
     2, nullptr, BlurFile},
    {"edges", "edges [-j N] SOURCE OUTPUT\n       bmpblur edges [-j N] -o FOLDER SOURCE...",
     "Find the edges of SOURCE (blur, gradient, non-maximum suppression, hysteresis at 65 and "
     "80) and write the edge map to OUTPUT at the source's size and bit depth: edges black, "
     "everything else white. - and the options as for blur.",
     2, nullptr, DetectEdges},
    {"info", "info FILE",
     "Print the file header and the info header of a BMP file (- for standard input), one "
     "field a line, with the format's published field names.",
     1, [](const Arguments& operands) { return PrintHeaders(operands[0]); }, nullptr},
    {"scale", "scale SOURCE OUTPUT MODE VALUE",
     "Resize SOURCE by bilinear sampling and write it to OUTPUT at 24 bits per pixel. MODE is P "
     "(VALUE is a percentage), W (the new width), H (the new height) or F (the new length of "
     "the longer side); the other side keeps the aspect ratio. - as for blur.",
     4,
     [](const Arguments& operands) {
         return ScaleFile(operands[0], operands[1], operands[2], operands[3]);
     },
     nullptr},
};

// text broken into lines of at most 78 columns, each starting with indent.
std::string Wrapped(const std::string& text, const std::string& indent) {
    std::string result;
    std::string line = indent;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string word = text.substr(start, end - start);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > 78) {
            result += line + '\n';
            line = indent;
        }
        line += (line.size() > indent.size() ? " " : "") + word;
        start = end + 1;
    }
    return result + line + '\n';
}

bool IsHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

void PrintUsage(std::ostream& out) {
    out << "Usage: bmpblur SOURCE OUTPUT\n";
    for (const Command& command : Commands) {
        out << "       bmpblur " << command.Usage << '\n';
    }
    out << "       bmpblur [COMMAND] --help | --version\n";
}

void PrintHelp() {
    PrintUsage(std::cout);
    std::cout << '\n'
              << Wrapped("Gray Gaussian blur, edge maps, header listings and scaling of BMP "
                         "files. With two file operands and no command, bmpblur blurs.",
                         "")
              << "\nCommands:\n";
    for (const Command& command : Commands) {
        std::cout << "  " << command.Name << '\n' << Wrapped(command.Summary, "      ");
    }
    std::cout << "\nRun 'bmpblur COMMAND --help' for one command.\n\n" << ExitCodeHelp;
}

ExitCode UsageError(const std::string& message) {
    std::cerr << "bmpblur: " << message << "\n";
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

bool IsJobsOption(const std::string& argument) {
    return argument == "-j" || argument == "--jobs";
}

// A count of 1 or more.
std::optional<std::uint32_t> ParseCount(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

ExitCode RunCommand(const Command& command, const Arguments& arguments) {
    if (arguments.size() == 1 && IsHelp(arguments[0])) {
        std::cout << "Usage: bmpblur " << command.Usage << "\n\n"
                  << Wrapped(command.Summary, "") << '\n'
                  << ExitCodeHelp;
        return ExitOk;
    }
    std::optional<std::string> folder;
    std::uint32_t jobs = 0;
    std::size_t first = 0;
    while (command.PerFile != nullptr && first < arguments.size() &&
           (arguments[first] == "-o" || IsJobsOption(arguments[first]))) {
        const std::string& option = arguments[first];
        if (first + 1 == arguments.size()) {
            return UsageError(std::string(command.Name) + ": " + option + " needs a value");
        }
        const std::string& value = arguments[first + 1];
        if (option == "-o") {
            folder = value;
        } else if (const std::optional<std::uint32_t> count = ParseCount(value)) {
            jobs = *count;
        } else {
            return UsageError(std::string(command.Name) + ": " + option +
                              " needs a whole number of 1 or more, not " + value);
        }
        first += 2;
    }
    const Arguments operands(arguments.begin() + static_cast<std::ptrdiff_t>(first),
                             arguments.end());
    if (folder) {
        if (operands.empty()) {
            return UsageError(std::string(command.Name) + ": -o needs a FOLDER and a SOURCE");
        }
        return RunBatch(command.PerFile, *folder, operands, jobs);
    }
    if (operands.size() != command.Operands) {
        return UsageError(std::string(command.Name) + ": expected " +
                          std::to_string(command.Operands) + " operands, got " +
                          std::to_string(operands.size()));
    }
    return command.PerFile != nullptr ? command.PerFile(operands[0], operands[1], jobs)
                                      : command.Run(operands);
}

// A save under way leaves no temporary file behind when the tool is stopped.
extern "C" void StopOnSignal(int signal) {
    dorvane::RemoveUnfinishedFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void HandleSignals() {
    for (const int signal : {
             SIGINT, SIGTERM
#if defined(SIGHUP)
                 ,
                 SIGHUP
#endif
         }) {
        std::signal(signal, StopOnSignal);
    }
#if defined(SIGXFSZ)
    // A file-size limit then fails the write, which is reported, instead of killing the tool.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int Run(const Arguments& arguments) {
    HandleSignals();
    if (arguments.empty()) {
        return UsageError("missing operands");
    }
    const std::string& first = arguments.front();
    if (IsHelp(first)) {
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
    const bool blurOption = first == "-o" || IsJobsOption(first);
    if (first.starts_with("-") && first != "-" && !blurOption) {
        return UsageError("unknown option " + first);
    }
    if (blurOption || arguments.size() == 2) {
        return RunCommand(Commands[0], arguments);
    }
    if (arguments.size() == 1) {
        return UsageError("missing OUTPUT operand after " + first);
    }
    return UsageError("unknown command " + first);
}

} // namespace

#if defined(_WIN32)
// Windows hands the arguments over as UTF-16, which is what its file names are; the tool works in
// UTF-8, as the library's paths are.
extern "C" int wmain(int argc, wchar_t** argv) {
    Arguments arguments;
    for (int index = 1; index < argc; ++index) {
        const std::wstring_view wide(argv[index]);
        const std::u16string units(wide.begin(), wide.end());
        // At most three bytes for each UTF-16 unit, and the terminator.
        std::string argument(3 * units.size() + 1, '\0');
        if (dorvane::ConvertPath(units.c_str(), argument) != dorvane::PathConversion::Converted) {
            return UsageError("argument " + std::to_string(index) + " is not valid UTF-16");
        }
        argument.resize(argument.find('\0'));
        arguments.push_back(std::move(argument));
    }
    return Run(arguments);
}
#else
int main(int argc, char** argv) {
    return Run(Arguments(argv + 1, argv + argc));
}
#endif
