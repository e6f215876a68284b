#pragma once

// The output's space, reserved while the source is read, a piece at a time between groups of
// rows: the reading threads allocate what the write would otherwise allocate while it holds the
// file's lock, one thread at a time.
#include "file_replacement.hpp"

#include <cstdint>
#include <cstdio>

namespace dorvane {

class OutputReservation {
  public:
    // Nothing to reserve.
    OutputReservation() = default;

    // Opens output in file, where a replacement is written (not a descriptor, device, pipe or
    // socket), to reserve size bytes of rows between the reading's groups many groups. An output
    // that cannot be opened now is left to the store, which then says why, as is one too small
    // to reserve for, or with too few groups to go between. Nothing to reserve unless a new file
    // was opened.
    static OutputReservation Open(const char* output, FileReplacement& file, std::uint64_t size,
                                  std::uint32_t groups);

    // The reading's items: its groups, and the pieces among them.
    std::uint32_t Items(std::uint32_t groups) const { return groups + Pieces; }
    // Reserves item's piece where item is one; false for a group.
    bool ReserveIfPiece(std::uint32_t item) const;
    // The group that item is, where it is not a piece.
    std::uint32_t GroupOf(std::uint32_t item) const;

  private:
    OutputReservation(std::FILE* output, std::uint64_t size, std::uint32_t pieces)
        : Output(output), Size(size), Pieces(pieces) {}

    std::FILE* Output = nullptr;
    std::uint64_t Size = 0;
    std::uint32_t Pieces = 0;
};

} // namespace dorvane
