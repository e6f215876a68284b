// The exported entry of the shared library.
#include "DorvaneBMPBlur.h"

#include "file_jobs.hpp"

extern "C" int32_t BMPBlur(const char16_t* source, const char16_t* output) {
    return dorvane::BlurFiles(source, output);
}
