# WebAssembly under WASI, by Debian's clang 19 and lld 19 with their wasm32 C and C++ libraries
# (packages clang-19, lld-19, wasi-libc, libc++-19-dev-wasm32, libc++abi-19-dev-wasm32,
# libclang-rt-19-dev-wasm32).
set(CMAKE_SYSTEM_NAME WASI)
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}) # Platform/WASI.cmake
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# No dynamic linking there: programs are whole modules.
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
