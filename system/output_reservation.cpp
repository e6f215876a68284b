#include "output_reservation.hpp"

#include "platform.hpp"

#include <algorithm>
#include <new>

namespace dorvane {
namespace {

// Every PieceSpacing-th item of the reading's work is a piece, while pieces are left: small
// enough that the threads rarely wait for each other at the file's lock. A large file is reserved
// in more pieces, of at most PieceBytes each.
constexpr std::uint32_t MinPieces = 12;
constexpr std::uint64_t PieceBytes = std::uint64_t{16} << 20;
constexpr std::uint32_t PieceSpacing = 4;

// How many pieces of size bytes go between groups many groups: none for too few to go between.
std::uint32_t PiecesAmong(std::uint32_t groups, std::uint64_t size) {
    const std::uint64_t wanted = std::max<std::uint64_t>(MinPieces, size / PieceBytes + 1);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, groups / (PieceSpacing - 1)));
}

} // namespace

OutputReservation OutputReservation::Open(const char* output, FileReplacement& file,
                                          std::uint64_t size, std::uint32_t groups) {
    const std::uint32_t pieces = PiecesAmong(groups, size);
    if (output == nullptr || pieces == 0) {
        return {};
    }
    const platform::PathKind kind = platform::Reach(output).Kind;
    try {
        // A FIFO is not opened before it is written: opening it waits for a reader.
        if ((kind != platform::PathKind::RegularFile && kind != platform::PathKind::Missing) ||
            !file.Open(output) || !file.WritesNewFile()) {
            return {};
        }
    } catch (const std::bad_alloc&) {
        file.Abandon();
        return {};
    }
    return {file.Stream(), size, pieces};
}

bool OutputReservation::ReserveIfPiece(std::uint32_t item) const {
    const std::uint32_t piece = item / PieceSpacing;
    if (item % PieceSpacing != PieceSpacing - 1 || piece >= Pieces) {
        return false;
    }
    const std::uint64_t from = Size * piece / Pieces;
    platform::Reserve(Output, from, Size * (piece + 1) / Pieces - from);
    return true;
}

std::uint32_t OutputReservation::GroupOf(std::uint32_t item) const {
    return item - std::min(Pieces, item / PieceSpacing);
}

} // namespace dorvane
