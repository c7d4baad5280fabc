# tavrine.dll: the whole library interface for Windows programs, the ZOLT_
# functions of tavrine.h and the tavrine_ functions of tavrine_api.h (all but
# the POSIX descriptor calls), as libtavrine.so exports them on Linux, with
# its import libraries libtavrine.dll.a (MinGW) and tavrine.lib (Microsoft's
# linker). Unlike the module it takes its memory from the C allocator, safe
# for concurrent calls and for the worker threads of the .tvr calls, and has
# no entry point of its own. tavrine_static holds the same objects for the
# tool, which links them in.
#
# The exports are written into tavrine.def here, from TavrineEncode.def (the
# ZOLT_ names, undecorated as the module exports them) and from the
# declarations of tavrine_api.h, so that a function added to the header is
# exported without further ado; a test compares the table with the Linux
# library's.
set(tavrine_api_header ${PROJECT_SOURCE_DIR}/include/tavrine_api.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tavrine_api_header})
file(READ ${tavrine_api_header} tavrine_api_text)
string(REGEX REPLACE "#if defined\\(TAVRINE_HAVE_FD_IO\\)[^#]*#endif" "" tavrine_api_text "${tavrine_api_text}")
string(REGEX MATCHALL "TAVRINE_API[^;(]*[ *]tavrine_[a-z0-9_]+\\(" tavrine_api_declarations "${tavrine_api_text}")
set(tavrine_api_functions)
foreach(declaration IN LISTS tavrine_api_declarations)
  string(REGEX REPLACE ".*[ *](tavrine_[a-z0-9_]+)\\($" "\\1" function "${declaration}")
  list(APPEND tavrine_api_functions ${function})
endforeach()
list(LENGTH tavrine_api_functions tavrine_api_function_count)
if(tavrine_api_function_count EQUAL 0)
  message(FATAL_ERROR "no tavrine_ functions found in ${tavrine_api_header}")
endif()
list(JOIN tavrine_api_functions "\n  " tavrine_api_export_lines)

# The ZOLT_ lines of the module's table without their ordinals, which belong
# to the module: "ZOLT_Encode = ZOLT_Encode@32" to link a 32-bit DLL, and what
# the import libraries are written from (module_definitions.cmake).
string(REGEX MATCHALL "${tavrine_export_pattern}" tavrine_zolt_link_lines "${tavrine_def_text}")
if(TAVRINE_WINDOWS_BITS EQUAL 32)
  string(REGEX REPLACE "${tavrine_export_pattern}" "\\2" tavrine_zolt_import_lines "${tavrine_zolt_link_lines}")
else()
  string(REGEX REPLACE "${tavrine_export_pattern}" "\\1" tavrine_zolt_link_lines "${tavrine_zolt_link_lines}")
  set(tavrine_zolt_import_lines "${tavrine_zolt_link_lines}")
endif()
list(JOIN tavrine_zolt_link_lines "\n  " tavrine_zolt_link_lines)
list(JOIN tavrine_zolt_import_lines "\n  " tavrine_zolt_import_lines)
set(tavrine_api_def_head "; The exports of tavrine.dll, written by windows/api_library.cmake.\nLIBRARY \"tavrine.dll\"\nEXPORTS\n  ")
set(TAVRINE_API_LINK_DEF ${CMAKE_CURRENT_BINARY_DIR}/tavrine.def)
set(TAVRINE_API_IMPORT_DEF ${CMAKE_CURRENT_BINARY_DIR}/tavrine-import.def)
tavrine_write_if_changed(${TAVRINE_API_LINK_DEF}
  "${tavrine_api_def_head}${tavrine_zolt_link_lines}\n  ${tavrine_api_export_lines}\n")
tavrine_write_if_changed(${TAVRINE_API_IMPORT_DEF}
  "${tavrine_api_def_head}${tavrine_zolt_import_lines}\n  ${tavrine_api_export_lines}\n")

# The codec's objects once more, for the C allocator: without the module's
# entry point, which would give the DLL the module's private heap.
get_target_property(tavrine_codec_sources tavrine_objects SOURCES)
list(FILTER tavrine_codec_sources EXCLUDE REGEX "/module_entry\\.cpp$")
add_library(tavrine_library_objects OBJECT ${tavrine_codec_sources})
target_include_directories(tavrine_library_objects
  PUBLIC ${PROJECT_SOURCE_DIR}/include
  PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(tavrine_library_objects PRIVATE TAVRINE_BUILDING)
target_link_libraries(tavrine_library_objects PRIVATE tavrine_build_flags)
tavrine_posix_threads(tavrine_library_objects tavrine_api_objects)
set(tavrine_library_object_files $<TARGET_OBJECTS:tavrine_library_objects> $<TARGET_OBJECTS:tavrine_api_objects>)

add_library(tavrine SHARED ${tavrine_library_object_files} ${TAVRINE_API_LINK_DEF})
set_target_properties(tavrine PROPERTIES PREFIX "" OUTPUT_NAME tavrine)
target_include_directories(tavrine PUBLIC ${PROJECT_SOURCE_DIR}/include)
# Nothing beyond Windows system DLLs: the C++ runtime and winpthreads are linked in.
target_link_options(tavrine PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(tavrine PRIVATE tavrine_build_flags)
tavrine_posix_threads(tavrine)

set(TAVRINE_API_MSVC_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/tavrine.lib)
tavrine_import_libraries(tavrine tavrine.dll ${TAVRINE_API_IMPORT_DEF} "${TAVRINE_IMPORT_KILL_AT}"
                         ${TAVRINE_API_MSVC_IMPORT_LIBRARY})

add_library(tavrine_static STATIC ${tavrine_library_object_files})
target_include_directories(tavrine_static PUBLIC ${PROJECT_SOURCE_DIR}/include)
tavrine_posix_threads(tavrine_static)
