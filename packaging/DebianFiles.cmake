# CPack pre-build script (CPACK_PRE_BUILD_SCRIPTS): completes the staged tree of
# the .deb with what Debian asks of a package and a plain `cmake --install` does
# not install: gzipped manual pages, /usr/share/doc/<package>/copyright (made
# from copyright.in and ../LICENSE) and changelog.Debian.gz (from changelog,
# whose top entry must name the package's version), and standard permissions.
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
string(TOLOWER "${CPACK_PACKAGE_NAME}" package)
set(doc "${staged}/usr/share/doc/${package}")

# manual pages: gzip -n -9, as Debian ships them
file(GLOB_RECURSE pages "${staged}/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -n -9 "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# copyright: the Copyright field is the holder named in LICENSE, the licence
# text is LICENSE below that line, one space in, blank lines as " ."
file(READ "${CMAKE_CURRENT_LIST_DIR}/../LICENSE" license)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n(.*)$")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) YEAR HOLDER'")
endif()
set(MAT2PNG_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" text)
string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
string(REGEX REPLACE "\n\n+" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " MAT2PNG_LICENSE_TEXT " ${text}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/copyright.in" "${doc}/copyright" @ONLY)

# changelog.Debian.gz, for the version being packed
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/changelog" top LIMIT_COUNT 1)
if(NOT top MATCHES "^${package} \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog does not start with an entry for ${package}: ${top}")
endif()
set(version "${CPACK_PACKAGE_VERSION}")
if(CPACK_DEBIAN_PACKAGE_RELEASE)
  string(APPEND version "-${CPACK_DEBIAN_PACKAGE_RELEASE}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL version)
  message(FATAL_ERROR "packaging/changelog: the top entry is ${CMAKE_MATCH_1}, the package is ${version}; add an entry for ${version}")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/changelog" "${doc}/changelog.Debian" COPYONLY)
execute_process(COMMAND gzip -n -9 "${doc}/changelog.Debian" COMMAND_ERROR_IS_FATAL ANY)

# whatever the umask: directories and programs 0755, other files 0644
execute_process(COMMAND chmod -R u=rwX,go=rX "${staged}" COMMAND_ERROR_IS_FATAL ANY)
