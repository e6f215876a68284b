# WebAssembly under WASI, which CMake 3.25 does not know: static libraries and whole modules.
set(CMAKE_STATIC_LIBRARY_PREFIX lib)
set(CMAKE_STATIC_LIBRARY_SUFFIX .a)
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
