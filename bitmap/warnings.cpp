#include "warnings.hpp"

#include <atomic>

namespace dorvane {
namespace {

// Atomic so that threads may set and read it at the same time without a data race.
constinit std::atomic<bool> warningsOn{true};

} // namespace

void DisableWarnings() {
    warningsOn.store(false);
}

void EnableWarnings() {
    warningsOn.store(true);
}

bool WarningsEnabled() {
    return warningsOn.load();
}

} // namespace dorvane
