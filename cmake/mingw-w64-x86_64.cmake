# Cross-building for 64-bit Windows with MinGW-w64: Debian's g++-mingw-w64-x86-64-posix, whose
# threads (winpthreads) std::thread and std::jthread need. The programs run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC cannot align the stack for the 32- and 64-byte vectors that the AVX2 and AVX-512 kernels
# spill on Win64 (its bug 54412): the assembler writes every aligned vector move as an unaligned
# one, which works on any address.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# The compiler's runtime (libgcc, libstdc++, winpthreads) goes into the DLL and the programs, so
# that they need no DLL but the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Tests and test discovery run the programs under Wine; WINEPREFIX and WINEDEBUG come from the
# environment (the windows preset sets them).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
