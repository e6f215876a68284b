#include "counting_allocator.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>

namespace dorvane::testing {
namespace {

AllocationLog TheLog{};
bool Recording = false;
std::size_t LiveBytes = 0; // of blocks allocated while recording
std::size_t FailAt = 0;
std::size_t SinceArmed = 0;

// The job's threads allocate their buffers at once.
std::mutex Lock;

void* Allocate(std::size_t size, std::size_t alignment = 0) noexcept {
    const std::lock_guard guard(Lock);
    ++SinceArmed;
    if (FailAt != 0 && SinceArmed == FailAt) {
        return nullptr;
    }
#if defined(_WIN32)
    // The C library of Windows has no aligned_alloc; its aligned blocks need their own free.
    void* block =
        ::_aligned_malloc(size == 0 ? 1 : size, std::max(alignment, alignof(std::max_align_t)));
#else
    void* block =
        alignment == 0
            ? std::malloc(size == 0 ? 1 : size)
            : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
    if (Recording && block != nullptr) {
        if (TheLog.AllocatedCount < MaxRecords) {
            TheLog.Allocated[TheLog.AllocatedCount++] = {block, size};
        } else {
            TheLog.Overflowed = true;
        }
        LiveBytes += size;
        TheLog.PeakBytes = std::max(TheLog.PeakBytes, LiveBytes);
    }
    return block;
}

// A block's latest allocation while recording is the one that is live.
void Forget(const void* block) {
    for (std::size_t i = TheLog.AllocatedCount; i > 0; --i) {
        if (TheLog.Allocated[i - 1].Block == block) {
            LiveBytes -= TheLog.Allocated[i - 1].Size;
            return;
        }
    }
}

void Release(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    const std::lock_guard guard(Lock);
    if (Recording) {
        if (TheLog.ReleasedCount < MaxRecords) {
            TheLog.Released[TheLog.ReleasedCount++] = block;
        } else {
            TheLog.Overflowed = true;
        }
        Forget(block);
    }
#if defined(_WIN32)
    ::_aligned_free(block);
#else
    std::free(block);
#endif
}

void* AllocateOrThrow(std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

void StartRecording() {
    TheLog.AllocatedCount = 0;
    TheLog.ReleasedCount = 0;
    TheLog.Overflowed = false;
    TheLog.PeakBytes = 0;
    LiveBytes = 0;
    Recording = true;
}

void StopRecording() {
    Recording = false;
}

const AllocationLog& Log() {
    return TheLog;
}

void FailAllocation(std::size_t n) {
    FailAt = n;
    SinceArmed = 0;
}

std::size_t AllocationsSinceArmed() {
    return SinceArmed;
}

} // namespace dorvane::testing

using dorvane::testing::Allocate;
using dorvane::testing::AllocateOrThrow;
using dorvane::testing::Release;

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete[](void* block) noexcept {
    Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    Release(block);
}
// The aligned forms, which large picture blocks come from.
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete[](void* block, std::align_val_t) noexcept {
    Release(block);
}
