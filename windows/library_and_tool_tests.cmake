# Tests of tavrine.dll and the tool under wine (included by CMakeLists.txt,
# beside the module's tests, with their wine prefix and generated inputs).
#   api_dll_exports          the export table against the Linux library's;
#                            the DLL and the programs import system DLLs only
#   wine_msvc_api_host       a host compiled for the Microsoft ABI and linked
#                            by lld-link through tavrine.lib calls every export
#   wine_api_host            streaming and .tvr round trips through the import
#                            library libtavrine.dll.a, on every input; its
#                            streams and .tvr files equal the native ones
#   wine_tool_<case>         tavrine.exe and untavrine.exe (tool_test.sh)
# Threads in the tests: two, where wine runs the programs natively. Where the
# 32-bit wine runs under qemu-i386 (a kernel without 32-bit support), threaded
# programs crash at random in the emulation, even ten lines of std::thread and
# condition variables; there the tests run with one thread, and the threaded
# paths are left to the 64-bit build, which wine64 runs natively.
set(tavrine_test_threads 2)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TAVRINE_WINE_BITS=${TAVRINE_WINDOWS_BITS}
          ${CMAKE_CROSSCOMPILING_EMULATOR} --route
  OUTPUT_VARIABLE tavrine_wine_route OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
  RESULT_VARIABLE tavrine_route_status)
if(NOT tavrine_route_status EQUAL 0 OR NOT tavrine_wine_route STREQUAL "native")
  set(tavrine_test_threads 1)
  message(STATUS "wine runs ${TAVRINE_WINDOWS_BITS}-bit programs under emulation: the tests run them on one thread")
endif()

set(tavrine_linux_library "")
if(TAVRINE_NATIVE_BUILD_DIR AND EXISTS ${TAVRINE_NATIVE_BUILD_DIR}/src/libtavrine.so)
  set(tavrine_linux_library ${TAVRINE_NATIVE_BUILD_DIR}/src/libtavrine.so)
endif()
set(tavrine_export_reference ${TAVRINE_API_LINK_DEF})
if(tavrine_linux_library)
  set(tavrine_export_reference ${tavrine_linux_library})
endif()
set(tavrine_checked_programs)
if(TARGET tavrine_cli)
  set(tavrine_checked_programs $<TARGET_FILE:tavrine_cli>)
endif()
add_test(NAME api_dll_exports
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_api_dll.sh $<TARGET_FILE:tavrine> ${TAVRINE_WINDOWS_BITS}
          ${tavrine_export_reference} ${tavrine_checked_programs})
set_tests_properties(api_dll_exports PROPERTIES ENVIRONMENT "OBJDUMP=${CMAKE_OBJDUMP}")

# Through tavrine.lib, as a Microsoft toolchain links (see linked_hosts.cmake).
if(TAVRINE_MSVC_CLANG AND TAVRINE_LLD_LINK)
  set(tavrine_msvc_api_object ${CMAKE_CURRENT_BINARY_DIR}/msvc_api_host.obj)
  set(tavrine_msvc_api_host ${CMAKE_CURRENT_BINARY_DIR}/msvc_api_host.exe)
  add_custom_command(OUTPUT ${tavrine_msvc_api_object}
    COMMAND ${TAVRINE_MSVC_CLANG} --target=${tavrine_msvc_target} -ffreestanding -O0
            -Wall -Wextra -Werror -DTAVRINE_HOST_WITHOUT_CRT -I${PROJECT_SOURCE_DIR}/include
            -c ${CMAKE_CURRENT_SOURCE_DIR}/api_linked_host.c -o ${tavrine_msvc_api_object}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api_linked_host.c ${PROJECT_SOURCE_DIR}/include/tavrine.h
            ${PROJECT_SOURCE_DIR}/include/tavrine_api.h
    VERBATIM)
  add_custom_command(OUTPUT ${tavrine_msvc_api_host}
    COMMAND ${TAVRINE_LLD_LINK} /nologo /nodefaultlib /entry:hostEntry /subsystem:console
            /machine:${tavrine_msvc_machine} /out:${tavrine_msvc_api_host}
            ${tavrine_msvc_api_object} ${TAVRINE_API_MSVC_IMPORT_LIBRARY}
    DEPENDS ${tavrine_msvc_api_object} ${TAVRINE_API_MSVC_IMPORT_LIBRARY}
    VERBATIM)
  add_custom_target(msvc_api_host ALL DEPENDS ${tavrine_msvc_api_host})
  add_dependencies(msvc_api_host tavrine)
  add_test(NAME wine_msvc_api_host COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${tavrine_msvc_api_host})
  set_tests_properties(wine_msvc_api_host PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
    ENVIRONMENT "${TAVRINE_WINE_ENVIRONMENT}")
endif()

if(NOT TAVRINE_NATIVE_BUILD_DIR)
  return()
endif()

tavrine_windows_host(api_host api_host.c)
target_link_libraries(api_host PRIVATE tavrine)
set(api_outputs ${CMAKE_CURRENT_BINARY_DIR}/api-outputs)
add_test(NAME wine_api_host COMMAND api_host ${input_list} ${api_outputs} ${tavrine_test_threads})
set_tests_properties(wine_api_host PROPERTIES FIXTURES_REQUIRED "wine;inputs"
  FIXTURES_SETUP api_outputs TIMEOUT 1800 ENVIRONMENT "${TAVRINE_WINE_ENVIRONMENT}")
add_test(NAME api_streams_match_native
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/compare_streams.sh
          ${TAVRINE_NATIVE_BUILD_DIR}/tests/stream_dump ${input_list} ${api_outputs})
set_tests_properties(api_streams_match_native PROPERTIES FIXTURES_REQUIRED "inputs;api_outputs")
set(tavrine_native_tool ${TAVRINE_NATIVE_BUILD_DIR}/cli/tavrine)
add_test(NAME api_tvr_match_native
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/compare_tvr.sh ${tavrine_native_tool} ${input_list} ${api_outputs}
          --segment-size 64K -T1)
set_tests_properties(api_tvr_match_native PROPERTIES FIXTURES_REQUIRED "inputs;api_outputs")

if(NOT TARGET tavrine_cli)
  return()
endif()
tavrine_windows_host(console_interrupt console_interrupt.c)
# Windows runs a console control handler on a thread of its own, so under
# emulation Ctrl-C, however sent, is left to the 64-bit build: there the
# 32-bit run was seen to end with status 0 now and then after SIGINT.
set(tavrine_tool_cases files pipes names)
if(tavrine_test_threads GREATER 1)
  list(APPEND tavrine_tool_cases interrupt console_interrupt)
endif()
foreach(case IN LISTS tavrine_tool_cases)
  add_test(NAME wine_tool_${case}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tool_test.sh ${case} ${CMAKE_CROSSCOMPILING_EMULATOR}
            $<TARGET_FILE_DIR:tavrine_cli> ${tavrine_native_tool} ${CMAKE_CURRENT_BINARY_DIR}/samples
            ${CMAKE_CURRENT_BINARY_DIR}/tool-work/${case} ${tavrine_test_threads}
            $<TARGET_FILE:console_interrupt>)
  set_tests_properties(wine_tool_${case} PROPERTIES FIXTURES_REQUIRED "wine;inputs" TIMEOUT 900
    ENVIRONMENT "${TAVRINE_WINE_ENVIRONMENT}")
endforeach()
