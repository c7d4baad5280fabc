# Packages made by `cpack` in a build directory, from the build's install
# rules (what `cmake --install` writes):
#   Linux     tavrine_<version>_<architecture>.deb, for the prefix /usr: the
#             libraries, the header, the CMake and pkg-config files, the
#             programs and the manual. Configure with
#             -DCMAKE_INSTALL_PREFIX=/usr, so that the libraries go to
#             Debian's multiarch directory.
#   Windows   tavrine-<version>-win32.zip or -win64.zip: bin/, lib/, include/,
#             the README and docs/, under one top directory of that name.
set(CPACK_PACKAGE_NAME tavrine)
set(CPACK_PACKAGE_VENDOR tavrine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "tavrine developers")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)

if(TAVRINE_WINDOWS_MODULE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(tavrine_windows_name win64)
  else()
    set(tavrine_windows_name win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tavrine-${PROJECT_VERSION}-${tavrine_windows_name})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tavrine compresses with a Burrows-Wheeler block sort, move-to-front and an\nadaptive range coder. This package holds the shared and static libraries\nwith their C header, CMake and pkg-config files, and the command-line tool\nwith its manual page.")
  # The dependencies (the C and C++ runtimes) from the binaries themselves; the
  # programs' own library is found inside the package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
