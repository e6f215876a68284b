#pragma once

#include <string>

namespace dorvane::cli {

// "-" as a SOURCE is standard input and as an OUTPUT standard output: the paths under which the
// library reaches them. Any other operand is a path as it stands.
std::string PathOfSource(const std::string& operand);
std::string PathOfOutput(const std::string& operand);

// True, reported, when operand is "-" where standard input and output have no path for the
// library to open (Windows).
bool RefuseStreamOperand(const std::string& operand);

// How an operand is named in messages.
std::string OperandName(const std::string& operand, bool isSource);

} // namespace dorvane::cli
