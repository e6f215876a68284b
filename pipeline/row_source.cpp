#include "row_source.hpp"

#include "platform.hpp"
#include "stream_reading.hpp"

#include <cstring>

namespace dorvane {

RowSource::RowSource(ByteSource& source, std::size_t rowLength, std::uint32_t height)
    : RowLength(rowLength), Height(height), Stream(source.File()), Bytes(source.Rest()) {
    if (Stream != nullptr && platform::IsRegularFile(Stream)) {
        RowsStart = std::ftell(Stream);
    }
}

std::size_t RowSource::Read(std::uint8_t* buffer, std::size_t size, std::uint64_t offset) const {
    if (Stream == nullptr) {
        const std::size_t count =
            offset < Bytes.size()
                ? static_cast<std::size_t>(std::min<std::uint64_t>(size, Bytes.size() - offset))
                : 0;
        if (count > 0) {
            std::memcpy(buffer, Bytes.data() + offset, count);
        }
        return count;
    }
    int error = 0;
    const std::size_t got =
        RowsStart >= 0 ? platform::ReadAt(Stream, buffer, size,
                                          static_cast<std::uint64_t>(RowsStart) + offset, error)
                       : ReadStream(Stream, buffer, size, error);
    Failed.Note(error);
    return got;
}

std::uint32_t RowSource::WholeRows() const {
    std::uint64_t end = Bytes.size();
    if (Stream != nullptr) {
        const long fileEnd = std::fseek(Stream, 0, SEEK_END) == 0 ? std::ftell(Stream) : -1;
        if (RowsStart < 0 || fileEnd < 0) {
            return Height;
        }
        end = fileEnd < RowsStart ? 0 : static_cast<std::uint64_t>(fileEnd - RowsStart);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(Height, end / RowLength));
}

} // namespace dorvane
