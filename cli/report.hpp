#pragma once

#include <string>

namespace dorvane::cli {

// "bmpblur: SUBJECT: reason" and a line break.
std::string ReportLine(const std::string& subject, const std::string& reason);

// Prints the ReportLine on standard error.
void Report(const std::string& subject, const std::string& reason);

} // namespace dorvane::cli
