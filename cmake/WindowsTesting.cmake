# Tests of the Windows build: GoogleTest built from Debian's sources with the cross compiler,
# and every test executable run under Wine by scripts/wine-run.sh, CMake's crosscompiling
# emulator, in a Wine prefix of the build's own (made on first use, reused after).
#   include(cmake/WindowsTesting.cmake)   then   chatroom_windows_tests(name SOURCES ... LIBRARIES ...)
# MAIN names the library with main() when the sources bring none of their own (GoogleTest's by
# default; GTest::gtest when a source has its own main).
include_guard(GLOBAL)
include(GoogleTest)

set(CHATROOM_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(CHATROOM_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "Wine prefix of the tests")
set(CHATROOM_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
cmake_path(NORMAL_PATH CHATROOM_WINE_RUN)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${CHATROOM_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Every executable made after this runs through Wine, in tests and in the test discovery.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CHATROOM_WINE_RUN} --prefix ${CHATROOM_WINEPREFIX})

# One GoogleTest executable of cross-built tests. Its standard streams are binary, so that
# CTest and the test discovery read LF line ends rather than text mode's CR LF.
function(chatroom_windows_tests name)
  cmake_parse_arguments(ARG "" "MAIN" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  if(NOT ARG_MAIN)
    set(ARG_MAIN GTest::gtest_main)
  endif()
  cmake_path(SET tests_dir NORMALIZE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tests)
  add_executable(${name} ${ARG_SOURCES} ${tests_dir}/platform/win32/BinaryStandardStreams.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} chatroom_program_parts GTest::gmock ${ARG_MAIN})
  target_include_directories(${name} PRIVATE ${tests_dir})
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  chatroom_cp936_texts(${name})
  # The first discovery also makes the Wine prefix, which takes a while.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 300 PROPERTIES ${ARG_PROPERTIES})
endfunction()
