#pragma once

#include <string>

namespace dorvane {

// The vector path that the jobs use ("avx2"), and, when DORVANE_SIMD asks for one that this
// processor does not run, what it asked and why: "avx2 (DORVANE_SIMD=neon: an AArch64 path)".
std::string VectorPathInUse();

} // namespace dorvane
