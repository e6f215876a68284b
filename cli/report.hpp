#pragma once

#include <dorvane/file_failure.hpp>

#include <string>

namespace dorvane::cli {

// "bmpblur: SUBJECT: reason" and a line break, control characters in either written as \xHH.
std::string ReportLine(const std::string& subject, const std::string& reason);

// Prints the ReportLine on standard error.
void Report(const std::string& subject, const std::string& reason);

// After a successful read: warns on standard error when the source was cut short, as the read
// filled its missing rows.
void ReportTruncation(const std::string& subject, const FileFailure& failure);

} // namespace dorvane::cli
