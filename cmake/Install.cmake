# Installation and the Debian package. Included last from the top-level
# CMakeLists.txt, when every program target exists.
#
#   cmake --install build                  programs, manual, unit, examples
#   cd build && cpack -G DEB               zolsampler_<version>_<arch>.deb
#
# Configure a package build with -DZOL_BUILD_TESTS=OFF: only the programs
# named here are installed; tests, bench and fuzz programs have no install
# rule.
include(GNUInstallDirs)

install(TARGETS zolsampler zolctl zolsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Every page under man/, filed by its section (the file name's extension).
file(GLOB ZOL_MAN_PAGES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/man/*.1 ${CMAKE_SOURCE_DIR}/man/*.5)
foreach(page IN LISTS ZOL_MAN_PAGES)
  get_filename_component(extension ${page} LAST_EXT)
  string(SUBSTRING ${extension} 1 -1 section)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# Relative, so /usr/lib/systemd/system in the package and
# /usr/local/lib/systemd/system from a source install: systemd reads both.
set(ZOL_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
  "Where the systemd unit goes, relative to the installation prefix")
install(FILES ${CMAKE_SOURCE_DIR}/dist/systemd/zolsampler@.service
  DESTINATION ${ZOL_SYSTEMD_UNIT_DIR})
# The freshness check of an instance's data files and its timer (zolview(1)).
install(FILES ${CMAKE_SOURCE_DIR}/dist/systemd/zolview-check@.service
  ${CMAKE_SOURCE_DIR}/dist/systemd/zolview-check@.timer
  DESTINATION ${ZOL_SYSTEMD_UNIT_DIR})
# The receiver ashore (zolshore(1)), when built.
if(TARGET zolshore)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/systemd/zolshore.service
    DESTINATION ${ZOL_SYSTEMD_UNIT_DIR})
endif()

# The unit's static user and group (created by the package's postinst).
set(ZOL_SYSUSERS_DIR lib/sysusers.d CACHE STRING
  "Where the sysusers.d file goes, relative to the installation prefix")
install(FILES ${CMAKE_SOURCE_DIR}/dist/sysusers/zolsampler.conf
  DESTINATION ${ZOL_SYSUSERS_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/dist/examples/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zolsampler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zolsampler developers")
set(CPACK_PACKAGE_CONTACT "zolsampler developers <zolsampler@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "console data sampler for the ZOL ocean-chemistry instrument controller")
set(CPACK_PACKAGE_DESCRIPTION
  "zolsampler samples a ZOL instrument controller (KIRN nitrate analyser or
PADO pH sensor) with an optional CTD probe over serial lines, attended at the
console or unattended as the systemd service zolsampler@.service. zolsim
simulates the instruments on pseudo-terminals for training and testing.
zolshore rebuilds the samplers' data files ashore from an MQTT broker.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) names the exact libc6 and libstdc++6 versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS systemd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/dist/debian/postinst
  ${CMAKE_SOURCE_DIR}/dist/debian/prerm
  ${CMAKE_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
