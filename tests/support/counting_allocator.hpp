#pragma once

#include <cstddef>
#include <cstdint>

// Replaces the global allocation operators of the test binary that links counting_allocator.cpp,
// so tests can see every block allocated and released while recording, and make the n-th
// allocation fail.
namespace dorvane::testing {

struct AllocationRecord {
    const void* Block;
    std::size_t Size;
};

inline constexpr std::size_t MaxRecords = 1 << 16;

struct AllocationLog {
    AllocationRecord Allocated[MaxRecords];
    std::size_t AllocatedCount;
    const void* Released[MaxRecords];
    std::size_t ReleasedCount;
    bool Overflowed;
    // The most bytes that blocks allocated while recording held at once.
    std::size_t PeakBytes;
};

// Starts a fresh log; allocations and releases are recorded until StopRecording.
void StartRecording();
void StopRecording();
const AllocationLog& Log();

// Makes the n-th allocation from now (1-based) fail, as exhausted memory would; 0 disarms.
void FailAllocation(std::size_t n);
// Allocations made since the last FailAllocation call.
std::size_t AllocationsSinceArmed();

} // namespace dorvane::testing
