# Cross build for 64-bit big-endian IBM Z, tested under qemu-s390x.
set(DORVANE_CROSS_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
