# What `cmake --install` of a Windows build gives, and what its ZIP package
# holds: the module in bin/, both import libraries in lib/, the header in
# include/, the README at the top and the documents in docs/.
install(TARGETS TavrineEncode
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${TAVRINE_MSVC_IMPORT_LIBRARY} DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavrine.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")
