# The Debian package's version (debian/changelog, first entry) carries the project's version from
# CMakeLists.txt: "4.2.0-1" for 4.2.0. Run as cmake -DVERSION=... -DCHANGELOG=... -P.
file(STRINGS "${CHANGELOG}" first LIMIT_COUNT 1)
string(REGEX REPLACE "^tavoxa \\(([^)]+)\\).*$" "\\1" package "${first}")
string(REGEX REPLACE "-[^-]+$" "" upstream "${package}")
if(NOT upstream STREQUAL VERSION)
  message(FATAL_ERROR "debian/changelog has ${package}, CMakeLists.txt has ${VERSION}")
endif()
