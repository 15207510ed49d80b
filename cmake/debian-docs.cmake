# Run by CPack before it builds the Debian package: writes the package's
# copyright file (Debian's machine-readable format) from LICENSE and its
# changelog (Debian's format, gzipped) from CHANGELOG.md, so that each text is
# kept in one file only. The copyright file carries the licence, so the plain
# LICENSE that the install rules put beside it is left out of the package.

set(source_dir "${CMAKE_CURRENT_LIST_DIR}/..")
set(doc_dir "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
if(NOT EXISTS "${doc_dir}/LICENSE")
  message(FATAL_ERROR "no LICENSE installed in ${doc_dir}")
endif()

# copyright: the holders from LICENSE's copyright line, its text as the
# licence, one space before each line and " ." for an empty one.
file(READ "${source_dir}/LICENSE" licence)
if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE is not the MIT licence under one copyright line")
endif()
set(holders "${CMAKE_MATCH_1}")
set(licence_text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " licence_text "${licence_text}")
string(REPLACE "\n \n" "\n .\n" licence_text "${licence_text}")
file(WRITE "${doc_dir}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${holders}
License: MIT

License: MIT
 ${licence_text}
")
file(REMOVE "${doc_dir}/LICENSE")

# changelog: each "## VERSION (YYYY-MM-DD)" heading of CHANGELOG.md becomes an
# entry, each "- " item a "  * " item, its continuation lines indented to
# match. Anything else in a release is refused rather than lost.
set(changelog "")
set(version "")
set(previous_day "")
set(items 0)
set(line_number 0)
macro(close_entry)
  if(NOT version STREQUAL "")
    if(items EQUAL 0)
      message(FATAL_ERROR "CHANGELOG.md: release ${version} lists no change")
    endif()
    string(APPEND changelog "\n -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}\n")
  endif()
endmacro()

file(READ "${source_dir}/CHANGELOG.md" markdown)
# Line by line with string(FIND), not as a list: a ";" in the text would
# split a CMake list.
while(NOT markdown STREQUAL "")
  string(FIND "${markdown}" "\n" end)
  if(end EQUAL -1)
    set(line "${markdown}")
    set(markdown "")
  else()
    string(SUBSTRING "${markdown}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${markdown}" ${end} -1 markdown)
  endif()
  math(EXPR line_number "${line_number} + 1")
  set(where "CHANGELOG.md:${line_number}")
  string(REPLACE "`" "" line "${line}")

  if(line MATCHES "^## ")
    if(NOT line MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
      message(FATAL_ERROR "${where}: a release heading is \"## VERSION (YYYY-MM-DD)\"")
    endif()
    close_entry()
    set(version "${CMAKE_MATCH_1}")
    set(day "${CMAKE_MATCH_2}")
    if(changelog STREQUAL "" AND NOT version STREQUAL CPACK_PACKAGE_VERSION)
      message(FATAL_ERROR "${where}: the newest release is ${version}, the package is ${CPACK_PACKAGE_VERSION}")
    endif()
    if(NOT previous_day STREQUAL "" AND NOT previous_day STRGREATER day)
      message(FATAL_ERROR "${where}: release ${version} is not older than the one above it")
    endif()
    execute_process(COMMAND date -u -R -d "${day}"
      OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${where}: ${day} is no date")
    endif()
    if(NOT changelog STREQUAL "")
      string(APPEND changelog "\n")
    endif()
    string(APPEND changelog "${CPACK_PACKAGE_NAME} (${version}) unstable; urgency=medium\n\n")
    set(previous_day "${day}")
    set(items 0)
  elseif(version STREQUAL "" OR line STREQUAL "" OR line MATCHES "^<!--.*-->$")
    # The title and notes before the first release, empty lines, comments.
  else()
    if(line MATCHES "^- (.+)$")
      set(line "  * ${CMAKE_MATCH_1}")
      math(EXPR items "${items} + 1")
    elseif(line MATCHES "^  ([^ ].*)$" AND items GREATER 0)
      set(line "    ${CMAKE_MATCH_1}")
    else()
      message(FATAL_ERROR "${where}: not an item \"- \" nor its continuation")
    endif()
    string(LENGTH "${line}" length)
    if(length GREATER 80)
      message(FATAL_ERROR "${where}: too long for Debian's changelog (${length} > 80)")
    endif()
    string(APPEND changelog "${line}\n")
  endif()
endwhile()
close_entry()
if(changelog STREQUAL "")
  message(FATAL_ERROR "CHANGELOG.md lists no release")
endif()

file(WRITE "${doc_dir}/changelog" "${changelog}")
# -n: no name or time in the gzip header, so the package is the same from one
# build to the next.
execute_process(COMMAND gzip -9nf "${doc_dir}/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${doc_dir}/changelog")
endif()
execute_process(COMMAND chmod 0644 "${doc_dir}/copyright" "${doc_dir}/changelog.gz")
