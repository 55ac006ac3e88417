# The Windows package, from the windows preset on Debian. Included last from
# the top-level CMakeLists.txt, when every program target exists.
#
#   cmake --build --preset windows
#   cd build-windows && cpack              zolsampler-<version>-win64.exe, .zip
#
# The installer is 64-bit NSIS (the 64-bit stub: a 64-bit-only wine runs no
# 32-bit one); installed or unzipped, the folder holds the programs, the
# manuals as HTML, the guide to the service and the examples. The
# uninstaller removes that folder only: %ProgramData%\zolsampler, where the
# services keep their data, stays.

install(TARGETS zolsampler zolctl RUNTIME DESTINATION .)
if(TARGET zolview)
  install(TARGETS zolview RUNTIME DESTINATION .)
endif()

# The manuals as HTML, made from man/ when the programs are built.
find_program(ZOL_MANDOC mandoc REQUIRED)
file(GLOB ZOL_MAN_PAGES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/man/*.1 ${CMAKE_SOURCE_DIR}/man/*.5)
set(ZOL_HTML_PAGES "")
foreach(page IN LISTS ZOL_MAN_PAGES)
  get_filename_component(name ${page} NAME)
  set(html ${CMAKE_BINARY_DIR}/manuals/${name}.html)
  add_custom_command(OUTPUT ${html}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/manuals
    COMMAND ${ZOL_MANDOC} -T html -O style=mandoc.css ${page} > ${html}
    DEPENDS ${page} VERBATIM)
  list(APPEND ZOL_HTML_PAGES ${html})
endforeach()
add_custom_target(zol_manuals ALL DEPENDS ${ZOL_HTML_PAGES})
install(FILES ${ZOL_HTML_PAGES} DESTINATION manuals)
install(FILES ${CMAKE_SOURCE_DIR}/docs/windows-service.md DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/dist/examples/ DESTINATION examples)
# libmosquitto is linked into zolsampler.exe: its licence texts go with it.
if(ZOL_MOSQUITTO_PREFIX)
  install(FILES ${ZOL_MOSQUITTO_PREFIX}/LICENSE.txt ${ZOL_MOSQUITTO_PREFIX}/edl-v10
    ${ZOL_MOSQUITTO_PREFIX}/epl-v20 DESTINATION licenses/libmosquitto)
endif()

# cpack installs what was built; it builds nothing itself (the test builds the
# two targets the package needs).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME zolsampler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zolsampler developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "console data sampler for the ZOL ocean-chemistry instrument controller")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY zolsampler)
set(CPACK_NSIS_PACKAGE_NAME zolsampler)
set(CPACK_NSIS_DISPLAY_NAME "zolsampler ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
