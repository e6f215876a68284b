# Cross build for 64-bit ARM (AArch64), tested under qemu-aarch64.
set(DORVANE_CROSS_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
