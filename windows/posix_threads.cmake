# tavrine.dll and the tool use std::thread and std::mutex, which the
# win32-thread MinGW GCC 12 that builds the module lacks. They are compiled
# and linked by the posix-thread variant of the same compiler (Debian:
# g++-mingw-w64-i686-posix, g++-mingw-w64-x86-64-posix): the same version and
# options, with a runtime on winpthreads, which the programs and the DLL link
# in statically like the rest of the runtime. CMake takes one C++ compiler per
# build, so the targets reach the other one through a compiler launcher
# (posix-threads-compiler.sh) that runs it in place of the configured one.
get_filename_component(tavrine_mingw_compiler ${CMAKE_CXX_COMPILER} NAME)
string(REGEX REPLACE "-g\\+\\+(-win32)?$" "" tavrine_mingw_triplet ${tavrine_mingw_compiler})
find_program(TAVRINE_POSIX_THREADS_C_COMPILER NAMES ${tavrine_mingw_triplet}-gcc-posix)
find_program(TAVRINE_POSIX_THREADS_CXX_COMPILER NAMES ${tavrine_mingw_triplet}-g++-posix)
if(NOT TAVRINE_POSIX_THREADS_C_COMPILER OR NOT TAVRINE_POSIX_THREADS_CXX_COMPILER)
  message(FATAL_ERROR "no posix-thread MinGW compilers ${tavrine_mingw_triplet}-gcc-posix and "
                      "${tavrine_mingw_triplet}-g++-posix (Debian: g++-mingw-w64-i686-posix, "
                      "g++-mingw-w64-x86-64-posix); tavrine.dll and the tool need them")
endif()

set(tavrine_posix_threads_launcher ${CMAKE_CURRENT_LIST_DIR}/posix-threads-compiler.sh)

# tavrine_posix_threads(target...): compiled and linked by the posix-thread compilers.
function(tavrine_posix_threads)
  foreach(target IN LISTS ARGN)
    set_target_properties(${target} PROPERTIES
      C_COMPILER_LAUNCHER "${tavrine_posix_threads_launcher};${TAVRINE_POSIX_THREADS_C_COMPILER}"
      CXX_COMPILER_LAUNCHER "${tavrine_posix_threads_launcher};${TAVRINE_POSIX_THREADS_CXX_COMPILER}"
      C_LINKER_LAUNCHER "${tavrine_posix_threads_launcher};${TAVRINE_POSIX_THREADS_C_COMPILER}"
      CXX_LINKER_LAUNCHER "${tavrine_posix_threads_launcher};${TAVRINE_POSIX_THREADS_CXX_COMPILER}")
  endforeach()
endfunction()
