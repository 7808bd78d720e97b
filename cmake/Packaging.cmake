# Packages: on Windows a zip (cpack -G ZIP) of both programs and a README.txt for
# Windows users, side by side in one folder, nothing to install; elsewhere a
# Debian package (cpack -G DEB) with both programs, the desktop entry, the icon
# and the README.
if(WIN32)
  # With Windows line ends, which every editor there shows as lines.
  configure_file(${PROJECT_SOURCE_DIR}/ui/win32/README.txt ${PROJECT_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME graftwell)
set(CPACK_PACKAGE_VENDOR "The Graftwell authors")
set(CPACK_PACKAGE_CONTACT "The Graftwell authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME graftwell-${PROJECT_VERSION}-windows-x64)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "copy a section of one StarCraft map's scenario into another")
set(CPACK_PACKAGE_DESCRIPTION
  "Graftwell copies one named section of the scenario chunk file inside a\n\
StarCraft: Brood War map (.scm/.scx), such as the terrain, from a second map\n\
into a first one and saves it back. It reads protected maps the way the game\n\
does and replaces the map atomically, so a map is never left half written.\n\
Contains the Qt window graftwell and the command-line tool graftwell-cli.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Graftwell authors")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Qt, zlib and the C++ runtime come from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the programs' own install rules; the tests and fuzzers install nothing.
include(CPack)
