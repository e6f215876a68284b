# The common part of the cross builds for Linux with Debian's cross compilers: the including
# toolchain file sets DORVANE_CROSS_PROCESSOR (the triple's first part) first. Programs built here
# run through qemu's user-mode emulation, which finds the target's libraries in its sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${DORVANE_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${DORVANE_CROSS_PROCESSOR}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${DORVANE_CROSS_PROCESSOR}-linux-gnu-g++)

set(DORVANE_CROSS_SYSROOT /usr/${DORVANE_CROSS_PROCESSOR}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${DORVANE_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${DORVANE_CROSS_PROCESSOR} -L ${DORVANE_CROSS_SYSROOT})
