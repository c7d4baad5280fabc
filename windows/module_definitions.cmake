# The module's export table is written once, in TavrineEncode.def, as the
# 32-bit module links it: every undecorated name bound to its __stdcall symbol
# at its ordinal ("ZOLT_Encode = ZOLT_Encode@32 @14"). The other definitions
# are derived from it:
#   TAVRINE_MODULE_LINK_DEF    what the module links with; on x86-64, where
#                              there is one convention and no decoration, the
#                              names alone ("ZOLT_Encode @14")
#   TAVRINE_IMPORT_DEF         what the import libraries are written from; on
#                              32-bit x86 the decorated names ("ZOLT_Encode@32
#                              @14"), which callers' objects refer to and which
#                              the libraries map to the undecorated exports
#                              (TAVRINE_IMPORT_KILL_AT: dlltool's -k)
# Writes text to path unless the file already holds it, so that what depends
# on the file is not rebuilt at every configuration.
function(tavrine_write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" current)
    if(current STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")
endfunction()

set(tavrine_def ${CMAKE_CURRENT_SOURCE_DIR}/TavrineEncode.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tavrine_def})
file(READ ${tavrine_def} tavrine_def_text)

set(tavrine_export_pattern "([A-Za-z_][A-Za-z0-9_]*) = ([A-Za-z_][A-Za-z0-9_]*@[0-9]+)")
string(REGEX MATCHALL "${tavrine_export_pattern}" tavrine_exports "${tavrine_def_text}")
list(LENGTH tavrine_exports tavrine_export_count)
if(NOT tavrine_export_count EQUAL 11)
  message(FATAL_ERROR "TavrineEncode.def: ${tavrine_export_count} exports of the form "
                      "'Name = Name@bytes @ordinal', expected 11")
endif()
string(REGEX REPLACE "${tavrine_export_pattern}" "\\1" tavrine_undecorated_text "${tavrine_def_text}")
string(REGEX REPLACE "${tavrine_export_pattern}" "\\2" tavrine_decorated_text "${tavrine_def_text}")

if(TAVRINE_WINDOWS_BITS EQUAL 32)
  set(TAVRINE_MODULE_LINK_DEF ${tavrine_def})
  set(tavrine_import_text "${tavrine_decorated_text}")
  set(TAVRINE_IMPORT_KILL_AT ON)
else()
  set(TAVRINE_MODULE_LINK_DEF ${CMAKE_CURRENT_BINARY_DIR}/TavrineEncode.def)
  tavrine_write_if_changed(${TAVRINE_MODULE_LINK_DEF} "${tavrine_undecorated_text}")
  set(tavrine_import_text "${tavrine_undecorated_text}")
  set(TAVRINE_IMPORT_KILL_AT OFF)
endif()
set(TAVRINE_IMPORT_DEF ${CMAKE_CURRENT_BINARY_DIR}/TavrineEncode-import.def)
tavrine_write_if_changed(${TAVRINE_IMPORT_DEF} "${tavrine_import_text}")
