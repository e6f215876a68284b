#include "bmp_output.hpp"

#include "bmp_writer.hpp"

#include <cerrno>

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
            written = rows.WriteInPlace(stream, static_cast<std::uint64_t>(rowsStart), threads,
                                        writeError);
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

} // namespace dorvane
