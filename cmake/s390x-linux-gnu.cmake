# Cross build for 64-bit big-endian IBM Z with Debian's cross compilers; programs built here run
# through qemu's user-mode emulation, which finds the target's libraries in its sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

set(DORVANE_S390X_SYSROOT /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${DORVANE_S390X_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L ${DORVANE_S390X_SYSROOT})
