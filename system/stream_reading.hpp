#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>

namespace dorvane {

// Up to size bytes of stream into buffer: fewer only at the end of the file or when reading
// failed, error then holding the errno (0 at the end). An interrupted read (EINTR, a signal
// handler that ran meanwhile) is taken up again, so that only the end of the file ends it early.
inline std::size_t ReadStream(std::FILE* stream, void* buffer, std::size_t size, int& error) {
    error = 0;
    std::size_t got = 0;
    while (got < size) {
        got += std::fread(static_cast<char*>(buffer) + got, 1, size - got, stream);
        if (got == size || std::feof(stream) != 0) {
            break;
        }
        if (errno != EINTR) {
            // A short read that is not the end failed; some systems leave errno unset.
            error = errno != 0 ? errno : EIO;
            break;
        }
        std::clearerr(stream);
    }
    return got;
}

} // namespace dorvane
