# Packages, made by CPack from what `cmake --install` installs: a .deb on
# Linux, a .zip on Windows. Their version is the project's.
set(CPACK_PACKAGE_NAME quillmote)
set(CPACK_PACKAGE_VENDOR "the quillmote developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remove the UTF-8 byte-order mark from the start of files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

# The project has no mailing address yet: example.org stands in for one.
set(QUILLMOTE_MAINTAINER "the quillmote developers <quillmote@example.org>"
  CACHE STRING "Maintainer of the Debian package: name <address>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLMOTE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quillmote removes the UTF-8 byte-order mark (the bytes EF BB BF) from the
start of each file named on its command line, in place, and leaves every
other file exactly as it was. A marked file is replaced atomically, or
changed where it lies when it has several hard links or another owner, so
its links, owner, permissions and extended attributes stay.")

# What Debian wants beyond a plain install (a DEP-5 copyright file, the
# changelog, compressed documentation) is added to the staged tree.
set(debian ${CMAKE_CURRENT_BINARY_DIR}/packaging/debian)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*\n(Permission )" "\\1" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " QUILLMOTE_LICENSE_TEXT " ${license}")
configure_file(packaging/debian/copyright.in ${debian}/copyright @ONLY)
configure_file(packaging/debian/changelog.in ${debian}/changelog @ONLY)
find_program(QUILLMOTE_GZIP gzip REQUIRED)
configure_file(packaging/debian/finish-package.cmake.in ${debian}/finish-package.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${debian}/finish-package.cmake)
include(CPack)
