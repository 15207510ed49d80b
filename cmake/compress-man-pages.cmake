# Run by CPack before it builds the Debian package: Debian ships manual pages
# compressed with gzip (-n: no name or time in the header, so the package is
# the same from one build to the next). Plain installs keep them as they are.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()
