# What the Linux cross toolchain files share: Debian's cross compilers for
# TAVRINE_CROSS_TRIPLET, the target's libraries under /usr/<triplet>, and
# qemu user-mode emulation (Debian: qemu-user-static, no binfmt registration
# needed) as the emulator through which CTest runs the test programs.
set(CMAKE_SYSTEM_NAME Linux)
find_program(CMAKE_C_COMPILER NAMES ${TAVRINE_CROSS_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TAVRINE_CROSS_TRIPLET}-g++ REQUIRED)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRINE_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(TAVRINE_CROSS_QEMU NAMES qemu-${TAVRINE_CROSS_QEMU_ARCH}-static
             qemu-${TAVRINE_CROSS_QEMU_ARCH} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRINE_CROSS_QEMU} -L /usr/${TAVRINE_CROSS_TRIPLET})
