# Installation, the manual and the Debian package.
#
# `cmake --install` (make install) puts the package library where the dynamic
# loader finds it without LD_LIBRARY_PATH (/usr/local/lib, or the
# multiarch library folder under /usr), tdslite in bin, the manual (HTML and
# Markdown) and the examples under share/doc/rexxktdb, and the man page
# rexxktdb(3) under share/man/man3. `cpack -G DEB` (make deb) packs the same
# files as the Debian package rexxktdb.
include(GNUInstallDirs)

# The manual: Markdown in doc/, rendered at build time by doc/render.py, which
# needs only python3's standard library.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ktdb_doc_out ${CMAKE_BINARY_DIR}/doc)
set(ktdb_render ${PROJECT_SOURCE_DIR}/doc/render.py)
add_custom_command(
  OUTPUT ${ktdb_doc_out}/rexxktdb.3 ${ktdb_doc_out}/rexxktdb.html ${ktdb_doc_out}/tdslite.1
         ${ktdb_doc_out}/tdslite.html
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ktdb_doc_out}
  COMMAND Python3::Interpreter ${ktdb_render} man ${PROJECT_SOURCE_DIR}/doc/rexxktdb.md
          ${ktdb_doc_out}/rexxktdb.3 rexxktdb 3
  COMMAND Python3::Interpreter ${ktdb_render} html ${PROJECT_SOURCE_DIR}/doc/rexxktdb.md
          ${ktdb_doc_out}/rexxktdb.html "RexxKTDB manual"
  COMMAND Python3::Interpreter ${ktdb_render} man ${PROJECT_SOURCE_DIR}/doc/tdslite.md
          ${ktdb_doc_out}/tdslite.1 tdslite 1
  COMMAND Python3::Interpreter ${ktdb_render} html ${PROJECT_SOURCE_DIR}/doc/tdslite.md
          ${ktdb_doc_out}/tdslite.html "tdslite"
  DEPENDS ${ktdb_render} ${PROJECT_SOURCE_DIR}/doc/rexxktdb.md ${PROJECT_SOURCE_DIR}/doc/tdslite.md
  COMMENT "Rendering the manual")
add_custom_target(doc ALL
  DEPENDS ${ktdb_doc_out}/rexxktdb.3 ${ktdb_doc_out}/rexxktdb.html ${ktdb_doc_out}/tdslite.1
          ${ktdb_doc_out}/tdslite.html)

set(ktdb_docdir ${CMAKE_INSTALL_DATADIR}/doc/rexxktdb)

install(TARGETS rexxktdb LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET tdslite)
  install(TARGETS tdslite RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${ktdb_doc_out}/rexxktdb.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
install(FILES ${ktdb_doc_out}/tdslite.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ktdb_doc_out}/rexxktdb.html ${ktdb_doc_out}/tdslite.html
              ${PROJECT_SOURCE_DIR}/doc/rexxktdb.md ${PROJECT_SOURCE_DIR}/doc/tdslite.md
        DESTINATION ${ktdb_docdir})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ktdb_docdir})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${ktdb_docdir}/examples
        USE_SOURCE_PERMISSIONS
        PATTERN "out" EXCLUDE
        # demo.sh runs the demo from a build folder; run.sh serves both.
        PATTERN "demo.sh" EXCLUDE)

# A library put into a folder of the loader's cache is found only after
# ldconfig; a staged install (DESTDIR, packaging) leaves that to the target
# system (the Debian package triggers it).
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    execute_process(COMMAND ldconfig RESULT_VARIABLE ktdb_ldconfig_status)
    if(NOT ktdb_ldconfig_status EQUAL 0)
      message(WARNING "ldconfig failed: run it as root so that Regina finds librexxktdb.so")
    endif()
  endif()
]])

# make uninstall: removes what the last install wrote (install_manifest.txt).
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})

# The Debian package. The versions are those of Debian 12.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rexxktdb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "RexxKTDB developers <rexxktdb@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "REXX external function package for Microsoft SQL Server (Regina, ooRexx, FreeTDS)")
set(CPACK_PACKAGE_DESCRIPTION
    "Gives REXX scripts access to SQL Server through FreeTDS's DB-Library, with tdslite, a small TDS server over SQLite for trying it out. One library serves Regina (3.6 and later) and ooRexx 5 (tested with 5.3.0, which Debian does not package): it takes the REXX interface from the interpreter that loads it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.36), libstdc++6 (>= 12), libsybdb5 (>= 1.3.17), libsqlite3-0 (>= 3.40.1), libssl3 (>= 3.0.0)")
# No interpreter is a dependency: the library works with whichever loads it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "regina-rexx (>= 3.6)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "freetds-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
