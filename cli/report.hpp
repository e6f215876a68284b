#pragma once

#include <string>

namespace dorvane::cli {

// Prints "bmpblur: SUBJECT: reason" as one line on standard error.
void Report(const std::string& subject, const std::string& reason);

} // namespace dorvane::cli
