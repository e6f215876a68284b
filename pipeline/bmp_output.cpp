#include "bmp_output.hpp"

#include "bmp_writer.hpp"

#include <cerrno>
#include <new>

namespace dorvane {

bool StoreBmp(const char* output, const BitmapImage& format, std::uint32_t width,
              std::uint32_t height, const RowWriting& rows, std::uint32_t threads,
              FileReplacement& file, FileFailure& failure) {
    if (file.Stream() == nullptr && !file.Open(output)) {
        failure = file.Failure();
        return false;
    }
    std::FILE* const stream = file.Stream();
    int writeError = 0;
    bool written = WriteBmpHeaders(format, static_cast<std::int32_t>(width),
                                   static_cast<std::int32_t>(height), stream);
    if (!written) {
        writeError = errno;
    } else if (threads > 1 && file.WritesNewFile()) {
        const long rowsStart = std::ftell(stream);
        written = rowsStart >= 0 && std::fflush(stream) == 0;
        if (!written) {
            writeError = errno;
        } else {
            written = rows.WriteInPlace(
                RowDestination(stream, static_cast<std::uint64_t>(rowsStart)), threads, writeError);
        }
    } else {
        written = rows.WriteInOrder(stream, writeError);
    }
    if (!written) {
        file.WriteFailed(writeError);
    }
    const bool committed = file.Commit();
    failure = file.Failure();
    return committed;
}

bool StoreBmp(std::vector<std::uint8_t>& output, const BitmapImage& format, std::uint32_t width,
              std::uint32_t height, const RowWriting& rows, std::uint32_t threads,
              FileFailure& failure) {
    output.clear();
    try {
        WriteBmpHeaders(format, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                        output);
        const std::uint64_t size =
            output.size() +
            BmpRowLength(static_cast<std::int32_t>(width), format.GetBitDepth()) * height;
        // Beyond what the address space holds, as a 32-bit one is for a large picture.
        if (size > output.max_size()) {
            throw std::bad_alloc();
        }
        const std::size_t rowsStart = output.size();
        output.resize(static_cast<std::size_t>(size));
        int writeError = 0;
        if (rows.WriteInPlace(RowDestination(std::span(output).subspan(rowsStart)), threads,
                              writeError)) {
            failure = {};
            return true;
        }
        failure = SystemFailure(FailedFile::Output, FailureKind::Write, writeError);
    } catch (const std::bad_alloc&) {
        failure = MemoryFailure(FailedFile::Output);
    }
    output.clear();
    return false;
}

BmpDestination::BmpDestination(const char* path, Durability durability) : Path(path) {
    File.emplace(TemporaryFile::Unnamed, durability);
}

OutputReservation BmpDestination::Reserve(std::uint64_t size, std::uint32_t groups) {
    return File ? OutputReservation::Open(Path, *File, size, groups) : OutputReservation();
}

bool BmpDestination::Store(const BitmapImage& format, std::uint32_t width, std::uint32_t height,
                           const RowWriting& rows, std::uint32_t threads, FileFailure& failure) {
    return File ? StoreBmp(Path, format, width, height, rows, threads, *File, failure)
                : StoreBmp(*Bytes, format, width, height, rows, threads, failure);
}

} // namespace dorvane
