// WASI's C++ library is built without exceptions, and so is what it allocates with: there memory
// running out ends the call in a trap. The library's own code keeps its handlers, which never run
// here; its throws, which only a container that cannot grow makes, end in the same trap. js/
// reports a trap as the library's words for memory running out, and starts a fresh instance.
#include <cstddef>

extern "C" {

void* __cxa_allocate_exception(std::size_t) {
    __builtin_trap();
}

void __cxa_throw(void*, void*, void (*)(void*)) {
    __builtin_trap();
}

} // extern "C"
