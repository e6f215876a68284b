#include "bmp_headers.hpp"

namespace dorvane {

bool ReadItems(void* buffer, std::size_t itemSize, std::size_t count, std::FILE* stream) {
    if (std::feof(stream) != 0) {
        return false;
    }
    return std::fread(buffer, itemSize, count, stream) >= count;
}

} // namespace dorvane
