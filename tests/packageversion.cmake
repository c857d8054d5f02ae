# The Debian package's version (debian/changelog, first entry) carries the project's version from
# CMakeLists.txt: "4.2.0-1" for 4.2.0. Run as cmake -DVERSION=... -DCHANGELOG=... -P.
file(STRINGS "${CHANGELOG}" first LIMIT_COUNT 1)
if(NOT first MATCHES "^tavoxa \\(([^)]+)\\)")
  message(FATAL_ERROR "debian/changelog does not start with a tavoxa entry: ${first}")
endif()
set(package "${CMAKE_MATCH_1}")
string(REGEX REPLACE "-[^-]+$" "" upstream "${package}")
if(NOT upstream STREQUAL VERSION)
  message(FATAL_ERROR "debian/changelog has ${package}, CMakeLists.txt has ${VERSION}")
endif()
message(STATUS "package ${package} carries version ${VERSION}")
