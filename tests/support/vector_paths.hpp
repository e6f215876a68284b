#pragma once

// The vector paths that this processor runs, for tests that hold each to the plain one.
#include "kernels.hpp"

namespace dorvane::testing {

// Calls check(kernels) for each path that this processor runs, with that path in use for the jobs
// and stages it starts; then the default path is in use again.
template <class Check> void ForEachPath(const Check& check) {
    const vectors::Kernels& before = vectors::InUse();
    for (const vectors::Path& path : vectors::Paths()) {
        if (path.Table != nullptr) {
            vectors::Use(*path.Table);
            check(*path.Table);
        }
    }
    vectors::Use(before);
}

} // namespace dorvane::testing
