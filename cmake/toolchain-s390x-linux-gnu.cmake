# Cross-builds for IBM Z Linux (Debian: g++-s390x-linux-gnu), the big-endian
# target of the test suite; the test programs run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TAVRINE_CROSS_TRIPLET s390x-linux-gnu)
set(TAVRINE_CROSS_QEMU_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
