# Import libraries of a DLL, both written from its import definitions:
#   lib<Name>.dll.a   for MinGW hosts (the target's linker file)
#   <Name>.lib        for hosts linked by Microsoft's linker or lld-link
# On 32-bit x86 a caller's object refers to _ZOLT_Encode@32; both libraries
# define that symbol and import the export by its undecorated name. The import
# library that ld writes beside the DLL cannot: it takes the left-hand names
# of the .def (_ZOLT_Encode), which a __stdcall caller never asks for, so
# dlltool writes the MinGW one over it once the DLL is linked. (The cdecl
# tavrine_ functions of tavrine.dll have no decoration to map.)
if(NOT CMAKE_DLLTOOL)
  message(FATAL_ERROR "no dlltool for the MinGW import library (it comes with the MinGW binutils)")
endif()
# The Microsoft-format library is written by llvm-dlltool, in the short import
# format that Microsoft's lib writes (on 32-bit x86 every member has the name
# type "undecorate"); without it, MinGW's dlltool writes one in the long
# format, with a thunk object per function, which Microsoft's linker also takes.
find_program(TAVRINE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
if(NOT TAVRINE_LLVM_DLLTOOL)
  message(STATUS "llvm-dlltool not found: MinGW's dlltool writes the Microsoft-format import libraries")
endif()

# tavrine_import_libraries(TARGET DLL_NAME IMPORT_DEF KILL_AT MSVC_LIBRARY):
# the MinGW library over the target's linker file, and MSVC_LIBRARY, built by
# a target TARGET_msvc_import_library. KILL_AT: the .def's names carry the
# __stdcall decoration, which the exports do not.
function(tavrine_import_libraries target dll import_def kill_at msvc_library)
  set(dlltool_kill_at)
  set(llvm_kill_at)
  if(kill_at)
    set(dlltool_kill_at --kill-at)
    set(llvm_kill_at -k)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --input-def ${import_def} --dllname ${dll}
            --output-lib $<TARGET_LINKER_FILE:${target}> ${dlltool_kill_at}
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${import_def})

  if(TAVRINE_LLVM_DLLTOOL)
    if(TAVRINE_WINDOWS_BITS EQUAL 32)
      set(llvm_machine i386)
    else()
      set(llvm_machine i386:x86-64)
    endif()
    add_custom_command(OUTPUT ${msvc_library}
      COMMAND ${TAVRINE_LLVM_DLLTOOL} -m ${llvm_machine} -d ${import_def} -l ${msvc_library} ${llvm_kill_at}
      DEPENDS ${import_def}
      VERBATIM)
  else()
    add_custom_command(OUTPUT ${msvc_library}
      COMMAND ${CMAKE_DLLTOOL} --input-def ${import_def} --dllname ${dll}
              --output-lib ${msvc_library} ${dlltool_kill_at}
      DEPENDS ${import_def}
      VERBATIM)
  endif()
  add_custom_target(${target}_msvc_import_library ALL DEPENDS ${msvc_library})
endfunction()

set(TAVRINE_MSVC_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/TavrineEncode.lib)
tavrine_import_libraries(TavrineEncode TavrineEncode.dll ${TAVRINE_IMPORT_DEF} "${TAVRINE_IMPORT_KILL_AT}"
                         ${TAVRINE_MSVC_IMPORT_LIBRARY})
