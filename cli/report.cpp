#include "report.hpp"

#include <iostream>

namespace dorvane::cli {

namespace {

// The text with its control characters (a newline in a file's name, say) as \xHH, so that a
// report stays on its one line.
std::string OnOneLine(const std::string& text) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            line += {'\\', 'x', Digits[byte >> 4], Digits[byte & 15]};
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace

std::string ReportLine(const std::string& subject, const std::string& reason) {
    return "bmpblur: " + OnOneLine(subject) + ": " + OnOneLine(reason) + '\n';
}

void Report(const std::string& subject, const std::string& reason) {
    std::cerr << ReportLine(subject, reason);
}

void ReportTruncation(const std::string& subject, const FileFailure& failure) {
    if (failure.Truncated()) {
        Report(subject, "warning: truncated, " + std::to_string(failure.RowsRead) + " of " +
                            std::to_string(failure.RowsExpected) + " rows read");
    }
}

} // namespace dorvane::cli
