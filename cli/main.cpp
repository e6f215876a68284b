// bmpblur: the command-line face of the library.
#include "batch.hpp"
#include "exit_codes.hpp"
#include "info_command.hpp"
#include "output_checks.hpp"
#include "pipeline_commands.hpp"
#include "scale_command.hpp"

#include <dorvane/file_replacement.hpp>
#include <dorvane/path_conversion.hpp>
#include <dorvane/vector_path.hpp>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <optional>
#include <span>
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
    // The exit statuses that the command can return, listed by its --help.
    std::span<const ExitCode> Statuses;
    // Whether the last operand may come any number of times, once at least.
    bool RepeatsLast = false;
};

ExitCode RunScale(const Arguments& operands);

constexpr ExitCode FileJobStatuses[] = {
    ExitOk,   ExitSourceUnreadable, ExitOutputUnwritable, ExitInvalidArgument, ExitWorkerKilled,
    ExitUsage};
#if defined(_WIN32)
// - is refused on Windows as an unusable argument.
constexpr ExitCode InfoStatuses[] = {ExitOk, ExitSourceUnreadable, ExitInvalidArgument, ExitUsage};
#else
constexpr ExitCode InfoStatuses[] = {ExitOk, ExitSourceUnreadable, ExitUsage};
#endif
constexpr ExitCode ScaleStatuses[] = {ExitOk, ExitSourceUnreadable, ExitOutputUnwritable,
                                      ExitInvalidArgument, ExitUsage};

const Command Commands[] = {
    {"blur",
     "blur [-j N] [--sync] SOURCE OUTPUT\n       bmpblur blur [-j N] [--sync] -o FOLDER SOURCE...",
     "Turn SOURCE gray, smooth it with a 5 x 5 Gaussian and write it to OUTPUT at the source's "
     "size and bit depth (1, 4, 8, 16, 24 or 32 bits per pixel). A SOURCE or OUTPUT of - is "
     "standard input or output. With -o, every SOURCE is written to FOLDER (created when "
     "missing) under its own file name, by N workers (-j N or --jobs N; one per core by "
     "default); an output that is the same file as a SOURCE is not written. Without -o, -j N "
     "limits the job to N threads; -jN and --jobs=N say the same. With --sync, each new file "
     "reaches the disk before it replaces the old one, and the replacement after; slower. "
     "Options may also follow the operands; -- ends them. An OUTPUT whose name ends in "
     "another extension than .bmp is written all the same, with a warning; standard output is "
     "not written when it is a terminal.",
     2, nullptr, BlurFile, FileJobStatuses},
    {"edges",
     "edges [-j N] [--sync] SOURCE OUTPUT\n       bmpblur edges [-j N] [--sync] -o FOLDER "
     "SOURCE...",
     "Find the edges of SOURCE (blur, gradient, non-maximum suppression, hysteresis at 65 and "
     "80) and write the edge map to OUTPUT at the source's size and bit depth: edges black, "
     "everything else white. - and the options as for blur.",
     2, nullptr, DetectEdges, FileJobStatuses},
    {"info", "info FILE...",
     "Print the file header and the info header of each BMP FILE (- for standard input), one "
     "field a line, with the format's published field names; each file's listing starts with "
     "its name.",
     1, PrintHeaders, nullptr, InfoStatuses, true},
    {"scale", "scale SOURCE OUTPUT MODE VALUE",
     "Resize SOURCE by bilinear sampling and write it to OUTPUT at 24 bits per pixel. MODE is P "
     "(VALUE is a percentage), W (the new width), H (the new height) or F (the new length of "
     "the longer side); VALUE is 1 or more, and the other side keeps the aspect ratio. - and "
     "OUTPUT as for blur.",
     4, RunScale, nullptr, ScaleStatuses},
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
    std::cout << "\nRun 'bmpblur COMMAND --help' for one command.\n\n" << ExitCodeHelp();
}

ExitCode UsageError(const std::string& message) {
    std::cerr << "bmpblur: " << message << "\n";
    PrintUsage(std::cerr);
    return ExitUsage;
}

// A BMP file's bytes would fill a terminal with noise; gzip refuses the same.
ExitCode TerminalError(const std::string& command) {
    return UsageError(command + ": standard output is a terminal; redirect it to a file or a pipe");
}

ExitCode RunScale(const Arguments& operands) {
    const std::string& value = operands[3];
    if (IsBelowOne(value)) {
        return UsageError("scale: VALUE must be 1 or more, not " + value);
    }
    if (IsTerminalOutput(operands[1])) {
        return TerminalError("scale");
    }
    const ExitCode status = ScaleFile(operands[0], operands[1], operands[2], value);
    if (status == ExitOk) {
        WarnOfExtension(operands[1]);
    }
    return status;
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

// The count of -jN or --jobs=N, given in one argument with its option, as make and GNU tools
// take it.
std::optional<std::string> AttachedJobs(const std::string& argument) {
    if (argument.starts_with("--jobs=")) {
        return argument.substr(7);
    }
    if (argument.starts_with("-j") && argument.size() > 2) {
        return argument.substr(2);
    }
    return std::nullopt;
}

bool TakesValue(const std::string& option) {
    return option == "-o" || IsJobsOption(option);
}

bool IsFileJobOption(const std::string& argument) {
    return TakesValue(argument) || AttachedJobs(argument) || argument == "--sync" ||
           argument == "--" || IsHelp(argument);
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

// What the arguments of blur or edges ask for.
struct FileJobArguments {
    std::optional<std::string> Folder;
    std::uint32_t Jobs = 0;
    bool Sync = false;
    bool Help = false;
    Arguments Operands;
    std::string Error; // why the arguments do not parse, if they do not
};

// The count of -j N, --jobs N and their one-argument forms, or why it is none.
void SetJobs(FileJobArguments& parsed, const std::string& option, const std::string& value) {
    if (const std::optional<std::uint32_t> count = ParseCount(value)) {
        parsed.Jobs = *count;
    } else {
        parsed.Error = option + " needs a whole number of 1 or more, not " + value;
    }
}

// Options come before, between or after the operands, as GNU tools take them; -- ends them, so
// that an operand may start with -. A lone - is an operand.
FileJobArguments ParseFileJobArguments(const Arguments& arguments) {
    FileJobArguments parsed;
    bool options = true;
    for (std::size_t index = 0; index < arguments.size() && parsed.Error.empty(); ++index) {
        const std::string& argument = arguments[index];
        if (!options || argument == "-" || !argument.starts_with("-")) {
            parsed.Operands.push_back(argument);
        } else if (argument == "--") {
            options = false;
        } else if (IsHelp(argument)) {
            parsed.Help = true;
        } else if (argument == "--sync") {
            parsed.Sync = true;
        } else if (const std::optional<std::string> jobs = AttachedJobs(argument)) {
            SetJobs(parsed, argument.starts_with("--") ? "--jobs" : "-j", *jobs);
        } else if (!TakesValue(argument)) {
            parsed.Error = "unknown option " + argument;
        } else if (index + 1 == arguments.size()) {
            parsed.Error = argument + " needs a value";
        } else {
            const std::string& value = arguments[++index];
            if (argument == "-o") {
                parsed.Folder = value;
            } else {
                SetJobs(parsed, argument, value);
            }
        }
    }
    return parsed;
}

void PrintCommandHelp(const Command& command) {
    std::cout << "Usage: bmpblur " << command.Usage << "\n\n"
              << Wrapped(command.Summary, "") << '\n'
              << ExitCodeHelp(command.Statuses);
}

ExitCode RunFileJob(const Command& command, const FileJobArguments& parsed) {
    const std::string name = command.Name;
    if (!parsed.Error.empty()) {
        return UsageError(name + ": " + parsed.Error);
    }
    if (parsed.Help) {
        PrintCommandHelp(command);
        return ExitOk;
    }
    const Arguments& operands = parsed.Operands;
    if (parsed.Folder) {
        if (operands.empty()) {
            return UsageError(name + ": -o needs a FOLDER and a SOURCE");
        }
        // Standard input has no file name to write under, and standard output is no folder.
        if (*parsed.Folder == "-" ||
            std::find(operands.begin(), operands.end(), "-") != operands.end()) {
            return UsageError(name + ": - (standard input or output) cannot be used with -o");
        }
        // The habit of gcc and sort, -o OUTPUT, would otherwise make a folder of that name.
        if (operands.size() == 1 && LooksLikeAFile(*parsed.Folder)) {
            return UsageError(name + ": -o names a FOLDER, and " + *parsed.Folder +
                              " looks like a file; to write one file: bmpblur " + name +
                              " SOURCE OUTPUT");
        }
        return RunBatch(command.PerFile, *parsed.Folder, operands, parsed.Jobs, parsed.Sync);
    }
    if (operands.size() != command.Operands) {
        return UsageError(name + ": expected " + std::to_string(command.Operands) +
                          " operands, got " + std::to_string(operands.size()));
    }
    if (IsTerminalOutput(operands[1])) {
        return TerminalError(name);
    }
    const ExitCode status = command.PerFile(operands[0], operands[1], {parsed.Jobs, parsed.Sync});
    if (status == ExitOk) {
        WarnOfExtension(operands[1]);
    }
    return status;
}

ExitCode RunCommand(const Command& command, const Arguments& arguments) {
    if (command.PerFile != nullptr) {
        return RunFileJob(command, ParseFileJobArguments(arguments));
    }
    if (arguments.size() == 1 && IsHelp(arguments[0])) {
        PrintCommandHelp(command);
        return ExitOk;
    }
    const bool counted = command.RepeatsLast ? arguments.size() >= command.Operands
                                             : arguments.size() == command.Operands;
    if (!counted) {
        return UsageError(std::string(command.Name) + ": expected " +
                          std::to_string(command.Operands) +
                          (command.RepeatsLast ? " or more" : "") + " operands, got " +
                          std::to_string(arguments.size()));
    }
    return command.Run(arguments);
}

// A save under way leaves no temporary file behind when the tool is stopped.
extern "C" void StopOnSignal(int signal) {
    dorvane::RemoveUnfinishedFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void HandleSignals() {
#if defined(_WIN32)
    for (const int signal : {SIGINT, SIGTERM}) {
        std::signal(signal, StopOnSignal);
    }
#else
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal that the caller ignores (nohup, trap '' HUP) stays ignored.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            struct sigaction handler {};
            handler.sa_handler = StopOnSignal;
            sigemptyset(&handler.sa_mask);
            ::sigaction(signal, &handler, nullptr);
        }
    }
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
        std::cout << "bmpblur " << DORVANE_VERSION << '\n'
                  << "vectors: " << dorvane::VectorPathInUse() << '\n';
        return ExitOk;
    }
    if (const Command* command = FindCommand(first)) {
        return RunCommand(*command, Arguments(arguments.begin() + 1, arguments.end()));
    }
    // Without a command, the arguments are blur's.
    const bool option = first.starts_with("-") && first != "-";
    if (option && !IsFileJobOption(first)) {
        return UsageError("unknown option " + first);
    }
    const FileJobArguments parsed = ParseFileJobArguments(arguments);
    if (!option && parsed.Error.empty() && !parsed.Help && !parsed.Folder &&
        parsed.Operands.size() != 2) {
        return UsageError(parsed.Operands.size() == 1 ? "missing OUTPUT operand after " + first
                                                      : "unknown command " + first);
    }
    return RunFileJob(Commands[0], parsed);
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
