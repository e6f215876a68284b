#include "report.hpp"

#include <iostream>

namespace dorvane::cli {

std::string ReportLine(const std::string& subject, const std::string& reason) {
    return "bmpblur: " + subject + ": " + reason + '\n';
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
