#pragma once

// A BMP file written by the pipeline: its headers from the codec, then rows that a writer of the
// job's own produces, on several threads at their places in a new file or in memory, or in order
// through a descriptor, and the file put in place only once all of it is written.
#include "bitmap_image.hpp"
#include "file_failure.hpp"
#include "file_replacement.hpp"
#include "output_reservation.hpp"
#include "platform.hpp"
#include "work_sharing.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace dorvane {

// Rows move between a file and a picture in bands of about this many bytes of the file, which
// stay in the processor's cache between the two.
inline constexpr std::size_t BandBytes = std::size_t{1} << 18;

// The file rows of a picture of height rows of rowLength bytes each, in bands: band i is file
// rows i x Rows on, the file's first row being the picture's last.
struct RowBands {
    RowBands(std::size_t rowLength, std::uint32_t height)
        : RowLength(rowLength), Height(height),
          Rows(static_cast<std::uint32_t>(
              std::clamp<std::size_t>(BandBytes / rowLength, 1, std::max(height, 1U)))) {}

    std::uint32_t Count() const { return (Height + Rows - 1) / Rows; }
    std::uint32_t First(std::uint32_t band) const { return band * Rows; }
    std::uint32_t RowsOf(std::uint32_t band) const { return std::min(Rows, Height - First(band)); }
    std::vector<std::uint8_t> Buffer() const { return std::vector<std::uint8_t>(Rows * RowLength); }

    std::size_t RowLength;
    std::uint32_t Height;
    std::uint32_t Rows;
};

// Where rows written at their places go: a file's stream, whose rows start at rowsStart, or the
// bytes in memory that hold the rows.
class RowDestination {
  public:
    RowDestination(std::FILE* stream, std::uint64_t rowsStart)
        : Stream(stream), RowsStart(rowsStart) {}
    explicit RowDestination(std::span<std::uint8_t> rows) : Rows(rows) {}

    // size bytes at offset from the first row's start, from any thread. False when the write
    // failed; why then holds its errno.
    bool WriteAt(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset,
                 int& why) const {
        if (Stream == nullptr) {
            std::memcpy(Rows.data() + static_cast<std::size_t>(offset), bytes, size);
            return true;
        }
        return platform::WriteAt(Stream, bytes, size, RowsStart + offset, why);
    }

  private:
    std::FILE* Stream = nullptr;
    std::uint64_t RowsStart = 0;
    std::span<std::uint8_t> Rows;
};

// What fills a file's rows after its headers.
class RowWriting {
  public:
    virtual ~RowWriting() = default;
    // Every row into stream after what it holds. False when a write failed; error then says why.
    virtual bool WriteInOrder(std::FILE* stream, int& error) const = 0;
    // Every row at its place in to, on up to threads threads. False when a write failed; error
    // then says why.
    virtual bool WriteInPlace(const RowDestination& to, std::uint32_t threads,
                              int& error) const = 0;
};

// WriteInPlace's common part: count pieces of rows on up to threads threads, each with buffers of
// its own from make; piece(i, buffers, write) hands the i-th piece's bytes to write(bytes, size,
// offset from the first row's start), which writes them at their place in to. False when a write
// failed; error then says why (the first).
template <class Make, class Piece>
bool WritePiecesInPlace(const RowDestination& to, std::uint32_t count, std::uint32_t threads,
                        const Make& make, const Piece& piece, int& error) {
    std::atomic<int> failed{0};
    const auto write = [&](const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
        int why = 0;
        if (to.WriteAt(bytes, size, offset, why)) {
            return true;
        }
        KeepFirst(failed, why);
        return false;
    };
    ShareGroups(count, threads, make,
                [&](std::uint32_t i, auto& buffers) { return piece(i, buffers, write); });
    error = failed.load();
    return error == 0;
}

// A RowWriting whose rows go out in bands (RowBands), each made in buffers of the writing
// thread's own: Encode(band, buffers) gives the band's file rows, bottom row first. In order
// through a descriptor or in place on threads, the same bytes.
template <class Buffers> class BandWriting : public RowWriting {
  public:
    explicit BandWriting(const RowBands& rows) : Rows(rows) {}

    bool WriteInOrder(std::FILE* stream, int& error) const final {
        Buffers buffers = MakeBuffers();
        for (std::uint32_t band = 0; band < Rows.Count(); ++band) {
            const std::span<const std::uint8_t> bytes = Encode(band, buffers);
            if (const int why = Stopped(); why != 0) {
                error = why;
                return false;
            }
            if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
                error = errno;
                return false;
            }
        }
        return true;
    }

    bool WriteInPlace(const RowDestination& to, std::uint32_t threads, int& error) const final {
        const bool written = WritePiecesInPlace(
            to, Rows.Count(), threads, [this] { return MakeBuffers(); },
            [this](std::uint32_t band, Buffers& buffers, const auto& write) {
                const std::span<const std::uint8_t> bytes = Encode(band, buffers);
                return Stopped() == 0 && write(bytes.data(), bytes.size(),
                                               std::uint64_t{Rows.First(band)} * Rows.RowLength);
            },
            error);
        if (const int why = Stopped(); why != 0) {
            error = why;
            return false;
        }
        return written;
    }

  protected:
    const RowBands Rows;

  private:
    virtual Buffers MakeBuffers() const = 0;
    virtual std::span<const std::uint8_t> Encode(std::uint32_t band, Buffers& buffers) const = 0;
    // Why the rows cannot be made (the errno of a failed read of what they come from), else 0.
    virtual int Stopped() const { return 0; }
};

// The width x height picture that rows writes to output, at format's depth, palette and
// resolution, through file (opened here unless it is open), replacing the file only when all of
// it was written. With more than one thread a new file is written in place; a descriptor, which
// may append, in order. False when the file was not written; failure then says why.
bool StoreBmp(const char* output, const BitmapImage& format, std::uint32_t width,
              std::uint32_t height, const RowWriting& rows, std::uint32_t threads,
              FileReplacement& file, FileFailure& failure);

// The same file's bytes in place of output's; memory running out is the failure, and output is
// then empty.
bool StoreBmp(std::vector<std::uint8_t>& output, const BitmapImage& format, std::uint32_t width,
              std::uint32_t height, const RowWriting& rows, std::uint32_t threads,
              FileFailure& failure);

// Where a job's BMP file goes: in place of the file at a path, through a replacement that the job
// may open while it reads to reserve the rows' space; or bytes in memory.
class BmpDestination {
  public:
    // Nothing is opened yet; durability as the replacement's.
    BmpDestination(const char* path, Durability durability);
    explicit BmpDestination(std::vector<std::uint8_t>& bytes) : Bytes(&bytes) {}

    // The file opened to reserve size bytes of rows between groups groups
    // (OutputReservation::Open); nothing to reserve in memory.
    OutputReservation Reserve(std::uint64_t size, std::uint32_t groups);
    // StoreBmp to the path or the bytes.
    bool Store(const BitmapImage& format, std::uint32_t width, std::uint32_t height,
               const RowWriting& rows, std::uint32_t threads, FileFailure& failure);

  private:
    const char* Path = nullptr;
    // Abandoned, leaving nothing, when the job fails before it is stored.
    std::optional<FileReplacement> File;
    std::vector<std::uint8_t>* Bytes = nullptr;
};

} // namespace dorvane
