#pragma once

#include <cstdio>
#include <memory>

namespace dorvane {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A C stream closed when it goes out of scope. Writers that must know whether the close
// succeeded release() it and call std::fclose themselves.
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen of the UTF-8 path, by the platform layer, which knows what the system takes.
FileStream OpenFile(const char* path, const char* mode);

} // namespace dorvane
