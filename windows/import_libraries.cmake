# Import libraries of the module, both written from TAVRINE_IMPORT_DEF:
#   libTavrineEncode.dll.a   for MinGW hosts (the target's linker file)
#   TavrineEncode.lib        for hosts linked by Microsoft's linker or lld-link
# On 32-bit x86 a caller's object refers to _ZOLT_Encode@32; both libraries
# define that symbol and import the export by its undecorated name. The import
# library that ld writes beside the module cannot: it takes the left-hand
# names of the .def (_ZOLT_Encode), which a __stdcall caller never asks for,
# so dlltool writes the MinGW one over it once the module is linked.
set(tavrine_kill_at)
if(TAVRINE_IMPORT_KILL_AT)
  set(tavrine_kill_at --kill-at)
endif()
if(NOT CMAKE_DLLTOOL)
  message(FATAL_ERROR "no dlltool for the MinGW import library (it comes with the MinGW binutils)")
endif()
add_custom_command(TARGET TavrineEncode POST_BUILD
  COMMAND ${CMAKE_DLLTOOL} --input-def ${TAVRINE_IMPORT_DEF} --dllname TavrineEncode.dll
          --output-lib $<TARGET_LINKER_FILE:TavrineEncode> ${tavrine_kill_at}
  VERBATIM)
set_property(TARGET TavrineEncode APPEND PROPERTY LINK_DEPENDS ${TAVRINE_IMPORT_DEF})

# The Microsoft-format library is written by llvm-dlltool, in the short import
# format that Microsoft's lib writes (on 32-bit x86 every member has the name
# type "undecorate"); without it, MinGW's dlltool writes one in the long
# format, with a thunk object per function, which Microsoft's linker also takes.
find_program(TAVRINE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
set(TAVRINE_MSVC_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/TavrineEncode.lib)
if(TAVRINE_LLVM_DLLTOOL)
  if(TAVRINE_WINDOWS_BITS EQUAL 32)
    set(tavrine_llvm_machine i386)
  else()
    set(tavrine_llvm_machine i386:x86-64)
  endif()
  set(tavrine_llvm_kill_at)
  if(TAVRINE_IMPORT_KILL_AT)
    set(tavrine_llvm_kill_at -k)
  endif()
  add_custom_command(OUTPUT ${TAVRINE_MSVC_IMPORT_LIBRARY}
    COMMAND ${TAVRINE_LLVM_DLLTOOL} -m ${tavrine_llvm_machine} -d ${TAVRINE_IMPORT_DEF}
            -l ${TAVRINE_MSVC_IMPORT_LIBRARY} ${tavrine_llvm_kill_at}
    DEPENDS ${TAVRINE_IMPORT_DEF}
    VERBATIM)
else()
  message(STATUS "llvm-dlltool not found: MinGW's dlltool writes TavrineEncode.lib")
  add_custom_command(OUTPUT ${TAVRINE_MSVC_IMPORT_LIBRARY}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${TAVRINE_IMPORT_DEF} --dllname TavrineEncode.dll
            --output-lib ${TAVRINE_MSVC_IMPORT_LIBRARY} ${tavrine_kill_at}
    DEPENDS ${TAVRINE_IMPORT_DEF}
    VERBATIM)
endif()
add_custom_target(TavrineEncode_msvc_import_library ALL DEPENDS ${TAVRINE_MSVC_IMPORT_LIBRARY})
