#pragma once

#include <string>

namespace dorvane::cli {

// Checks of the operands that name where the tool writes, for the mistakes a newcomer makes
// with habits from other tools.

// Whether -o's FOLDER looks like the name of one file: it names something that exists and is no
// folder, or nothing yet and ends in .bmp, in any case.
bool LooksLikeAFile(const std::string& folder);

// Whether output is standard output and that is a terminal, which a BMP file's bytes would fill
// with noise.
bool IsTerminalOutput(const std::string& output);

// Warns on standard error when the file name of output has an extension other than .bmp: the
// file is a BMP file whatever its name says.
void WarnOfExtension(const std::string& output);

} // namespace dorvane::cli
