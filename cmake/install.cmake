# Installs the headers, both libraries, a CMake package (find_package(tavrine)
# gives tavrine::tavrine and tavrine::tavrine_static) and tavrine.pc.
include(CMakePackageConfigHelpers)

install(FILES ${PROJECT_SOURCE_DIR}/include/tavrine.h ${PROJECT_SOURCE_DIR}/include/tavrine_api.h
  ${PROJECT_SOURCE_DIR}/include/tavrine.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tavrine tavrine_static EXPORT tavrineTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tavrineTargets NAMESPACE tavrine::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrine)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tavrineConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tavrineConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrine)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tavrineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tavrineConfig.cmake
  ${PROJECT_BINARY_DIR}/tavrineConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrine)

# tavrine.pc finds the prefix from its own place, which lies one directory
# below the library directory: two levels up from lib/pkgconfig, three from
# Debian's lib/<multiarch>/pkgconfig.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TAVRINE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH tavrine_pc_up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" tavrine_pc_up "${tavrine_pc_up}")
  set(TAVRINE_PC_PREFIX "\${pcfiledir}/${tavrine_pc_up}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/tavrine.pc.in ${PROJECT_BINARY_DIR}/tavrine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tavrine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
