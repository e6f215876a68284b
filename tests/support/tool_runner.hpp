#pragma once

#include "temp_directory.hpp"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace dorvane::testing {

struct ToolRun {
    int Status;
    std::string Out;
    std::string Err;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

#if defined(_WIN32)
inline std::wstring Widen(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0'); // never more UTF-16 units than UTF-8 bytes
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

// An argument quoted for a Windows command line, which the C runtime splits up again.
inline std::wstring Quote(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// The text of a program's standard output or error, whose lines end in CR LF on Windows.
inline std::string Lines(std::string text) {
    std::erase(text, '\r');
    return text;
}

// Runs the bmpblur tool with the (UTF-8) arguments and captures its exit status and both outputs.
inline ToolRun RunTool(const std::vector<std::string>& arguments) {
    TempDirectory scratch;
    std::wstring line = Quote(Widen(DORVANE_BMPBLUR_TOOL));
    for (const std::string& argument : arguments) {
        line += L" " + Quote(Widen(argument));
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const auto create = [&](const std::string& name) {
        return ::CreateFileW(Widen(scratch.File(name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherited,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.hStdOutput = create("out");
    startup.hStdError = create("err");
    PROCESS_INFORMATION process{};
    DWORD status = static_cast<DWORD>(-1);
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process) != 0) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        ::CloseHandle(handle);
    }
    return {static_cast<int>(status), Lines(ReadText(scratch.File("out"))),
            Lines(ReadText(scratch.File("err")))};
}
#else
inline std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
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
#endif

} // namespace dorvane::testing
