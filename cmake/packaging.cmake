# Installing Orvik on Linux (`cmake --install build --prefix DIR`) and its
# Debian package (`cpack -G DEB` in the build directory): the two programs in
# bin/, side by side so that orvik finds the editor, and their manual pages.
include(GNUInstallDirs)

install(TARGETS orvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET orvik-regedit)
  install(TARGETS orvik-regedit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/orvik.1 ${PROJECT_SOURCE_DIR}/docs/man/orvik-regedit.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VENDOR "Orvik")
set(CPACK_PACKAGE_CONTACT "Orvik maintainers <maintainers@users.noreply.c-seed-451c322e.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console tool for the Windows registry and offline hives")
set(CPACK_PACKAGE_DESCRIPTION
  "Orvik queries and changes a Windows registry from the command line: QUERY, ADD, DELETE,\nCOPY, COMPARE, SAVE, RESTORE, LOAD, UNLOAD, EXPORT and IMPORT. On Linux it works on a\nregistry of its own kept in SQLite, reads and writes Windows hive files, and imports\nregistry-editor files with orvik-regedit.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The runtime libraries (SQLite, the C++ runtime) are read off the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
