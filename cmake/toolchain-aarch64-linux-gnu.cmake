# Cross-builds for 64-bit ARM Linux (Debian: g++-aarch64-linux-gnu); the test
# programs run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TAVRINE_CROSS_TRIPLET aarch64-linux-gnu)
set(TAVRINE_CROSS_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
