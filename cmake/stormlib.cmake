# StormLib, through which the map module reads and writes map archives: the target brindlemark_stormlib.
#
# On Linux Debian's libstorm-dev (StormLib.h and libstorm) when it is installed. For Windows, and wherever the
# installed library is missing, StormLib 9.40 is built from source with the programs, as a static library:
# from the release tarball that BRINDLEMARK_STORMLIB_TARBALL names (its SHA-256 is checked, and it is unpacked
# into the build folder), else from the upstream repository at the release's commit.
set(BRINDLEMARK_STORMLIB_TARBALL "" CACHE FILEPATH
    "StormLib 9.40 source tarball (git archive of the tag v9.40) to build from instead of the upstream repository")
set(brindlemark_stormlib_commit 6bb1882bd00ddbc3729cac5dac0fda81a61e5514) # the tag v9.40
set(brindlemark_stormlib_sha256 fd76dd53c0a58837bd7d7671d4d480787f7032d6f9f3bb5092ec8db9d85fdd28)

option(BRINDLEMARK_STORMLIB_FROM_SOURCE "Build StormLib from source even where it is installed" OFF)
if(NOT WIN32 AND NOT BRINDLEMARK_STORMLIB_FROM_SOURCE)
  find_path(STORMLIB_INCLUDE_DIR StormLib.h)
  find_library(STORMLIB_LIBRARY storm)
endif()

add_library(brindlemark_stormlib INTERFACE)
if(STORMLIB_INCLUDE_DIR AND STORMLIB_LIBRARY AND NOT BRINDLEMARK_STORMLIB_FROM_SOURCE)
  target_include_directories(brindlemark_stormlib SYSTEM INTERFACE "${STORMLIB_INCLUDE_DIR}")
  target_link_libraries(brindlemark_stormlib INTERFACE "${STORMLIB_LIBRARY}")
  set(BRINDLEMARK_STORMLIB_BUNDLED_BZIP2 "")
  return()
endif()

include(FetchContent)
if(BRINDLEMARK_STORMLIB_TARBALL)
  cmake_path(ABSOLUTE_PATH BRINDLEMARK_STORMLIB_TARBALL BASE_DIRECTORY "${PROJECT_SOURCE_DIR}"
             OUTPUT_VARIABLE tarball)
  message(STATUS "StormLib: building from ${tarball}")
  FetchContent_Declare(stormlib URL "${tarball}" URL_HASH SHA256=${brindlemark_stormlib_sha256}
                       DOWNLOAD_EXTRACT_TIMESTAMP OFF)
else()
  # Needs the network; offline, give the tarball or configure with -DBRINDLEMARK_MAPS=OFF.
  message(STATUS "StormLib: building from github.com/ladislav-zezula/StormLib at ${brindlemark_stormlib_commit} "
                 "(offline: -DBRINDLEMARK_STORMLIB_TARBALL=StormLib-9.40.tar.gz, or -DBRINDLEMARK_MAPS=OFF)")
  FetchContent_Declare(stormlib GIT_REPOSITORY https://github.com/ladislav-zezula/StormLib.git
                       GIT_TAG ${brindlemark_stormlib_commit})
endif()

# The library alone, static, with its own copies of zlib, bzip2 and LibTomCrypt, and with UTF-16 archive paths on
# Windows. The settings are the function's own, so they reach StormLib's folder and nothing else.
function(brindlemark_build_stormlib)
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW) # StormLib's options take the values set here
  set(BUILD_SHARED_LIBS OFF)
  set(STORM_USE_BUNDLED_LIBRARIES ON)
  set(STORM_SKIP_INSTALL ON)
  set(STORM_BUILD_TESTS OFF)
  set(STORM_UNICODE ON)
  FetchContent_GetProperties(stormlib)
  if(NOT stormlib_POPULATED)
    FetchContent_Populate(stormlib)
  endif()
  # The release carries a prebuilt storm.dll; only the sources are used.
  file(REMOVE "${stormlib_SOURCE_DIR}/storm.dll")
  add_subdirectory("${stormlib_SOURCE_DIR}" "${stormlib_BINARY_DIR}" EXCLUDE_FROM_ALL SYSTEM)
  set(stormlib_SOURCE_DIR "${stormlib_SOURCE_DIR}" PARENT_SCOPE)
endfunction()
brindlemark_build_stormlib()

target_link_libraries(brindlemark_stormlib INTERFACE storm)
if(WIN32)
  # StormLib is built for wide-character paths: whoever includes StormLib.h must see TCHAR as wchar_t too.
  target_compile_definitions(brindlemark_stormlib INTERFACE UNICODE _UNICODE)
endif()
# The bzip2 inside StormLib, for the layout checker where the system has none (MinGW-w64).
set(BRINDLEMARK_STORMLIB_BUNDLED_BZIP2 "${stormlib_SOURCE_DIR}/src/bzip2")
