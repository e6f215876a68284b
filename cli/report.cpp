#include "report.hpp"

#include <iostream>

namespace dorvane::cli {

void Report(const std::string& subject, const std::string& reason) {
    std::cerr << "bmpblur: " << subject << ": " << reason << '\n';
}

} // namespace dorvane::cli
