# Packaging.cmake - what `cmake --install` puts where, and the Debian package
# that `cpack -G DEB` makes from the build tree.
#
#   bin/                      tarpelix and the tools
#   share/man/man1/           a manual page for each (gzip-compressed)
#   share/tarpelix/demo/      the demonstration suite root, read-only
#   share/doc/tarpelix/       the README
#
# The programs find the demonstration suite from their own place
# (bin/../share/tarpelix/demo), so an installation can be moved, and the
# package, installed under /usr, finds it as well as an installation made
# with --prefix.

include(GNUInstallDirs)

file(RELATIVE_PATH TARPELIX_DEMO_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATADIR}/tarpelix/demo)
target_compile_definitions(app PRIVATE TARPELIX_DEMO_FROM_BINDIR="${TARPELIX_DEMO_FROM_BINDIR}")

get_property(_programs GLOBAL PROPERTY TARPELIX_PROGRAMS)
get_property(_man_pages GLOBAL PROPERTY TARPELIX_MAN_PAGES)
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The suite root as the programs read it; the scripts that made its
# dictionaries and help pages stay in the source tree.
install(DIRECTORY demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarpelix/demo
  PATTERN ".gitattributes" EXCLUDE
  PATTERN "*.py" EXCLUDE
  PATTERN "README.md" EXCLUDE)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tarpelix)
set(CPACK_PACKAGE_VENDOR "TARPELIX")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fee settlement and period clearing for condominium accounts")
set(CPACK_PACKAGE_DESCRIPTION
  "The settlement module of a property-management accounting suite: for a settlement date and a range of properties it charges the administrator's management fee with VAT and withholding, shares it and the period's payments among the owners, stores each owner's balance and clears the settled collections and payments. With the record utility recutil, the demonstration data generator demodata, the balances listing and a demonstration suite root.")
set(TARPELIX_PACKAGE_CONTACT "TARPELIX maintainers <tarpelix@localhost>" CACHE STRING
  "Maintainer named in the Debian package")
set(CPACK_PACKAGE_CONTACT ${TARPELIX_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The run-time libraries the programs are linked with (ncursesw, SQLite, and
# whatever else is added later, libpq among them), found by dpkg-shlibdeps
# from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

if(TARPELIX_TESTS AND NOT TARPELIX_SANITIZE)
  # An installation into a temporary prefix, the installed programs, and the
  # package with its dependencies (tests/package/).
  # The shared libraries the build links the programs with (libNAME.so),
  # whose packages the Debian package must depend on.
  set(_runtime_libraries ncursesw sqlite3 z)
  if(TARGET PostgreSQL::PostgreSQL)
    list(APPEND _runtime_libraries pq)
  endif()
  list(JOIN _runtime_libraries " " _runtime_libraries)
  foreach(_test install deb)
    add_test(NAME package.${_test} COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/${_test}.sh)
    set_tests_properties(package.${_test} PROPERTIES
      ENVIRONMENT "TARPELIX_BINARY_DIR=${PROJECT_BINARY_DIR};TARPELIX_SOURCE_DIR=${PROJECT_SOURCE_DIR};TARPELIX_VERSION=${PROJECT_VERSION};TARPELIX_RUNTIME_LIBRARIES=${_runtime_libraries}"
      TIMEOUT 300 LABELS package)
  endforeach()
endif()
