# Hosts linked with the module at load time, one through each import library,
# both from linked_host.c; each runs under wine from the module's directory,
# where the Windows loader looks first.
#   mingw_linked_host   MinGW, through libTavrineEncode.dll.a
#   msvc_linked_host    compiled by clang for the Microsoft ABI and linked by
#                       lld-link through TavrineEncode.lib, as a Microsoft
#                       toolchain would; with no Windows SDK here it links no
#                       C runtime (/nodefaultlib) and starts at hostEntry
tavrine_windows_host(mingw_linked_host linked_host.c)
target_include_directories(mingw_linked_host PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(mingw_linked_host PRIVATE TavrineEncode)
add_test(NAME wine_mingw_linked_host COMMAND mingw_linked_host)
set_tests_properties(wine_mingw_linked_host PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
  ENVIRONMENT "${TAVRINE_WINE_ENVIRONMENT}")

find_program(TAVRINE_MSVC_CLANG NAMES clang clang-16 clang-15 clang-14)
find_program(TAVRINE_LLD_LINK NAMES lld-link lld-link-16 lld-link-15 lld-link-14)
if(NOT TAVRINE_MSVC_CLANG OR NOT TAVRINE_LLD_LINK)
  message(WARNING "clang or lld-link not found: TavrineEncode.lib is not linked against")
  return()
endif()
if(TAVRINE_WINDOWS_BITS EQUAL 32)
  set(tavrine_msvc_target i686-pc-windows-msvc)
  set(tavrine_msvc_machine x86)
else()
  set(tavrine_msvc_target x86_64-pc-windows-msvc)
  set(tavrine_msvc_machine x64)
endif()
set(tavrine_msvc_object ${CMAKE_CURRENT_BINARY_DIR}/msvc_linked_host.obj)
set(tavrine_msvc_host ${CMAKE_CURRENT_BINARY_DIR}/msvc_linked_host.exe)
# -O0 keeps the compiler from turning loops into calls of a C runtime's memset;
# -ffreestanding takes clang's own stdint.h, not the SDK's.
add_custom_command(OUTPUT ${tavrine_msvc_object}
  COMMAND ${TAVRINE_MSVC_CLANG} --target=${tavrine_msvc_target} -ffreestanding -O0
          -Wall -Wextra -Werror -DTAVRINE_HOST_WITHOUT_CRT -I${PROJECT_SOURCE_DIR}/include
          -c ${CMAKE_CURRENT_SOURCE_DIR}/linked_host.c -o ${tavrine_msvc_object}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/linked_host.c ${PROJECT_SOURCE_DIR}/include/tavrine.h
  VERBATIM)
add_custom_command(OUTPUT ${tavrine_msvc_host}
  COMMAND ${TAVRINE_LLD_LINK} /nologo /nodefaultlib /entry:hostEntry /subsystem:console
          /machine:${tavrine_msvc_machine} /out:${tavrine_msvc_host}
          ${tavrine_msvc_object} ${TAVRINE_MSVC_IMPORT_LIBRARY}
  DEPENDS ${tavrine_msvc_object} ${TAVRINE_MSVC_IMPORT_LIBRARY}
  VERBATIM)
add_custom_target(msvc_linked_host ALL DEPENDS ${tavrine_msvc_host})
add_dependencies(msvc_linked_host TavrineEncode)
add_test(NAME wine_msvc_linked_host COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${tavrine_msvc_host})
set_tests_properties(wine_msvc_linked_host PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
  ENVIRONMENT "${TAVRINE_WINE_ENVIRONMENT}")
