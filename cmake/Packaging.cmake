# Debian package (cpack -G DEB): both programs, the desktop entry, the icon and the README.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME graftwell)
set(CPACK_PACKAGE_VENDOR "The Graftwell authors")
set(CPACK_PACKAGE_CONTACT "The Graftwell authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
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
set(CPACK_STRIP_FILES ON)
# Only the programs' own install rules; the tests and fuzzers install nothing.
include(CPack)
