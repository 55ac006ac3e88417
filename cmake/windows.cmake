# The Windows build (cmake --preset windows): the shared code with the Win32
# platform files, and its tests for running under wine.
file(GLOB_RECURSE ZOL_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*/win32/*.cpp)
add_library(zolwin32 STATIC
  ${ZOL_WIN32_SOURCES}
  ${CMAKE_SOURCE_DIR}/src/link/serial_service.cpp
  ${CMAKE_SOURCE_DIR}/src/console/keys.cpp)
target_include_directories(zolwin32 PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(zolwin32 PUBLIC Threads::Threads)

if(ZOL_BUILD_TESTS)
  # GoogleTest built for this target from Debian's sources.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  file(GLOB ZOL_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
  add_executable(win32_tests ${ZOL_WIN32_TESTS})
  target_link_libraries(win32_tests PRIVATE zolwin32 gtest_main gmock)
endif()
