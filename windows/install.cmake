# What `cmake --install` of a Windows build gives, and what its ZIP package
# holds: in bin/ the module, tavrine.dll and the tool (tavrine.exe and
# untavrine.exe, installed by cli/); in lib/ the import libraries of both
# DLLs, MinGW's and Microsoft's; in include/ the headers; the README at the
# top and the documents in docs/.
install(TARGETS TavrineEncode tavrine
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${TAVRINE_MSVC_IMPORT_LIBRARY} ${TAVRINE_API_MSVC_IMPORT_LIBRARY} DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavrine.h ${PROJECT_SOURCE_DIR}/include/tavrine_api.h
        DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")
