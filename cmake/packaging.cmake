# Packages made by CPack from the install rules: a Debian package on Linux
# (cpack -G DEB) and a zip for Windows (cpack -G ZIP). The version is the
# project's own, from project() in the top-level CMakeLists.txt.

# The maintainer named in the Debian package and its changelog, set here and
# nowhere else: a distributor who packages tsconv puts its own maintainer
# here. The project has no mailing address of its own; the reserved .invalid
# domain makes sure no mail to it goes astray until then.
set(TSCONV_PACKAGE_MAINTAINER "the tsconv authors <authors@tsconv.invalid>")

set(CPACK_PACKAGE_NAME tsconv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TSCONV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "converter for time-stamped controller logs")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  # tsconv.exe, README.txt and LICENSE.txt at the top of the zip, not in a
  # folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TSCONV_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The summary above becomes the first line of the description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tsconv converts time-stamped controller logs, as exported from a
spreadsheet, into the fixed target format that the plant's other tools
read: date and time in local time, values with six decimals, CR LF line
ends. It works in one pass with constant memory.")
  # Depends (libc6, libstdc++6, libgcc-s1) as dpkg-shlibdeps reads them off
  # the program.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Installed under /usr; the manual page gzipped, the copyright file and the
  # changelog written from LICENSE and CHANGELOG.md.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PRE_BUILD_SCRIPTS
    ${CMAKE_CURRENT_LIST_DIR}/compress-man-pages.cmake
    ${CMAKE_CURRENT_LIST_DIR}/debian-docs.cmake)
endif()

include(CPack)
