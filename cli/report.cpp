#include "report.hpp"

#include <iostream>

namespace dorvane::cli {

std::string ReportLine(const std::string& subject, const std::string& reason) {
    return "bmpblur: " + subject + ": " + reason + '\n';
}

void Report(const std::string& subject, const std::string& reason) {
    std::cerr << ReportLine(subject, reason);
}

} // namespace dorvane::cli
