# Cross-builds the 64-bit Windows module with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triplet x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${triplet}-gcc-win32 ${triplet}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triplet}-g++-win32 ${triplet}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Debian's 64-bit wine (run-wine.sh, told the width
# by the tests' environment).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-wine.sh)
