#pragma once

#include "platform.hpp"
#include "threads.hpp"

namespace dorvane {

// A fork while another thread holds Mutex would copy it locked into a child that has no thread
// to unlock it. Registered once (at start-up, by a static), the fork waits for Mutex instead, and
// the parent and the child each unlock their copy. Returns true, for the static to hold.
template <platform::Mutex& Mutex> bool HoldAcrossFork() {
    platform::AroundFork([] { Mutex.lock(); }, [] { Mutex.unlock(); }, [] { Mutex.unlock(); });
    return true;
}

} // namespace dorvane
