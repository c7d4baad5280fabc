# Cross-builds the 32-bit Windows module with MinGW-w64 (Debian: g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triplet i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${triplet}-gcc-win32 ${triplet}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triplet}-g++-win32 ${triplet}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Debian's 32-bit wine, natively or, where the kernel
# cannot execute 32-bit code, under qemu-i386 emulation (run-wine.sh chooses).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-wine.sh)
