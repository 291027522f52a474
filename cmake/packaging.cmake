# Installing Orvik on Linux (`cmake --install build --prefix DIR`) and its
# Debian package (`cpack -G DEB` in the build directory): the two programs in
# bin/, side by side so that orvik finds the editor, their manual pages
# (compressed, as Debian expects them), the bash completion, and the
# copyright file and changelog in Debian's formats.
include(GNUInstallDirs)

install(TARGETS orvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET orvik-regedit)
  install(TARGETS orvik-regedit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Compressed without a file name or time in the header, so that the same
# sources give the same bytes.
find_program(ORVIK_GZIP gzip REQUIRED)
function(orvik_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ORVIK_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

set(ORVIK_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${ORVIK_PACKAGE_FILES})
set(ORVIK_MAN_PAGES)
foreach(page orvik orvik-regedit)
  orvik_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${ORVIK_PACKAGE_FILES}/${page}.1.gz)
  list(APPEND ORVIK_MAN_PAGES ${ORVIK_PACKAGE_FILES}/${page}.1.gz)
endforeach()
orvik_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${ORVIK_PACKAGE_FILES}/changelog.gz)
add_custom_target(orvik_package_files ALL
  DEPENDS ${ORVIK_MAN_PAGES} ${ORVIK_PACKAGE_FILES}/changelog.gz)
install(FILES ${ORVIK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads completions/<command> when <command> is first
# completed; one script serves both programs.
set(ORVIK_COMPLETIONS ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
file(CREATE_LINK orvik ${ORVIK_PACKAGE_FILES}/orvik-regedit SYMBOLIC)
install(FILES ${PROJECT_SOURCE_DIR}/completion/orvik.bash DESTINATION ${ORVIK_COMPLETIONS}
  RENAME orvik)
install(FILES ${ORVIK_PACKAGE_FILES}/orvik-regedit DESTINATION ${ORVIK_COMPLETIONS})

# The package's changelog names the version it describes first; a version
# raised without a changelog entry would ship a package that contradicts it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog ORVIK_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ORVIK_CHANGELOG_TOP MATCHES "^orvik \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with version ${PROJECT_VERSION}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${ORVIK_PACKAGE_FILES}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvik)

set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VENDOR "Orvik")
set(CPACK_PACKAGE_CONTACT "Orvik maintainers <maintainers@users.noreply.c-seed-451c322e.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console tool for the Windows registry and offline hives")
# Debian wraps nothing: every line of the long description stays within 80
# columns.
set(CPACK_PACKAGE_DESCRIPTION
  "Orvik queries and changes a Windows registry from the command line:\nQUERY, ADD, DELETE, COPY, COMPARE, SAVE, RESTORE, LOAD, UNLOAD, EXPORT\nand IMPORT. On Linux it works on a registry of its own kept in SQLite,\nreads and writes Windows hive files, and imports registry-editor files\nwith orvik-regedit.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The runtime libraries (SQLite, the C++ runtime) are read off the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
