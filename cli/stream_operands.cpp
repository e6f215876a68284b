#include "stream_operands.hpp"

#include "report.hpp"

namespace dorvane::cli {

std::string PathOfSource(const std::string& operand) {
    return operand == "-" ? "/dev/stdin" : operand;
}

std::string PathOfOutput(const std::string& operand) {
    // Whatever standard output is, the library decides by what the path reaches: a pipe or a
    // terminal is written directly, a file replaced whole.
    return operand == "-" ? "/dev/stdout" : operand;
}

#if defined(_WIN32)
bool RefuseStreamOperand(const std::string& operand) {
    if (operand != "-") {
        return false;
    }
    Report(operand, "standard input and output cannot be used on Windows; name a file");
    return true;
}
#else
bool RefuseStreamOperand(const std::string&) {
    return false;
}
#endif

std::string OperandName(const std::string& operand, bool isSource) {
    if (operand != "-") {
        return operand;
    }
    return isSource ? "standard input" : "standard output";
}

} // namespace dorvane::cli
