#pragma once

// The one way a job's rows come from a BMP file once the codec has read its headers: the file's
// bytes in memory, a regular file read at the rows' places on any thread, or a stream that only
// goes forward (a pipe, standard input) read in the file's order. Here too the rule for a file cut
// short (the rows that arrived whole before the first that did not; the rest are the caller's to
// fill) and for a read that fails (its errno, from the read that failed, for the load to fail
// with).
#include "byte_source.hpp"
#include "output_reservation.hpp"
#include "read_errors.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace dorvane {

// The rows of a file, bottom row first, RowLength bytes each, Height of them.
class RowSource {
  public:
    // The rows where source stands, at the bottom row.
    RowSource(ByteSource& source, std::size_t rowLength, std::uint32_t height);

    // Whether rows can be read at their places, on any thread: bytes in memory or a regular
    // file. Otherwise they come in the file's order, one read after another.
    bool InPlace() const { return Stream == nullptr || RowsStart >= 0; }

    // Up to size bytes of the rows from offset (from the bottom row's start) into buffer: fewer
    // only where the file ends or reading failed, which Error then tells. In order, each read
    // takes up where the last ended, whatever offset says.
    std::size_t Read(std::uint8_t* buffer, std::size_t size, std::uint64_t offset) const;

    // How many rows lie whole before the file's end, in place; all where the end cannot be told.
    // A file that shrinks meanwhile may still cut a read short.
    std::uint32_t WholeRows() const;

    // The errno of the first read that failed, else 0.
    int Error() const { return Failed.Get(); }
    // Hands the first failed read's errno to the load, which then fails with it.
    void Report(ByteSource& source) const { source.Fail(Error()); }

    const std::size_t RowLength;
    const std::uint32_t Height;

  private:
    std::FILE* Stream;
    std::span<const std::uint8_t> Bytes; // in memory: from the bottom row to the file's end
    long RowsStart = -1;                 // of a regular file
    mutable FirstError Failed;
};

// The codec's sink for a file's rows: read(rows) takes the height rows of rowLength bytes where
// bytes stand and returns how many arrived whole; a failed read's errno then goes to the load.
template <class Read>
std::int32_t ReadRowsOf(ByteSource& bytes, std::size_t rowLength, std::uint32_t height,
                        const Read& read) {
    const RowSource rows(bytes, rowLength, height);
    const std::uint32_t whole = read(rows);
    rows.Report(bytes);
    return static_cast<std::int32_t>(whole);
}

// Reads a picture's rows in count pieces, at their places on up to threads threads where the
// source allows, else in order on this one. piece(i, buffers, read) reads the i-th piece through
// read(bytes, size, offset from the bottom row's start), with buffers of its thread's own from
// make, and returns the file row of the first of its rows that did not arrive whole, or the
// height. In order, reading stops at such a piece. Between pieces read in place, reservation
// reserves the output's space. Returns how many rows arrived whole before the first that did not:
// the rows from there up are the caller's to fill, as a cut file's are.
template <class Make, class Piece>
std::uint32_t ReadRowPieces(const RowSource& rows, std::uint32_t count, std::uint32_t threads,
                            const OutputReservation& reservation, const Make& make,
                            const Piece& piece) {
    const auto read = [&rows](std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
        return rows.Read(bytes, size, offset);
    };
    if (threads <= 1 || !rows.InPlace()) {
        auto buffers = make();
        std::uint32_t whole = rows.Height;
        for (std::uint32_t i = 0; i < count && whole == rows.Height; ++i) {
            whole = piece(i, buffers, read);
        }
        return whole;
    }
    std::atomic<std::uint32_t> whole{rows.Height};
    ShareGroups(reservation.Items(count), threads, make, [&](std::uint32_t item, auto& buffers) {
        if (!reservation.ReserveIfPiece(item)) {
            // The rows below the first one missing in any piece arrived.
            LowerTo(whole, piece(reservation.GroupOf(item), buffers, read));
        }
        return true;
    });
    return whole.load();
}

} // namespace dorvane
