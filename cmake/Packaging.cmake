# What `cmake --install` puts on a machine and what CPack packs: on POSIX the program and the
# simulated device with a man page each (a .deb); on Windows the program alone (a .zip).

# The version the program itself reports is the package's.
file(STRINGS ${PROJECT_SOURCE_DIR}/app/UploadEngine.h versionLine REGEX "kVersion = \"")
string(REGEX MATCH "[0-9]+(\\.[0-9]+)+" OSTREVAN_VERSION "${versionLine}")
if(NOT OSTREVAN_VERSION)
  message(FATAL_ERROR "No kVersion in app/UploadEngine.h for the package's version")
endif()

if(WIN32)
  install(TARGETS ostrevan-update RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  include(GNUInstallDirs)
  install(TARGETS ostrevan-update ostrevan-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Man pages, gzipped as Debian keeps them: ostrevan-update's is written by hand,
  # ostrevan-sim's is made from its --help text, so the two never disagree.
  set(manDir ${CMAKE_BINARY_DIR}/man)
  set(manScript ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake)
  add_custom_command(
    OUTPUT ${manDir}/ostrevan-update.1.gz
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/docs/ostrevan-update.1
            -DVERSION=${OSTREVAN_VERSION} -DOUTPUT=${manDir}/ostrevan-update.1 -P ${manScript}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/ostrevan-update.1 ${manScript}
    COMMENT "Man page of ostrevan-update")
  add_custom_command(
    OUTPUT ${manDir}/ostrevan-sim.1.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:ostrevan-sim> -DVERSION=${OSTREVAN_VERSION}
            "-DSUMMARY=the simulated Ostrevan device on a pseudo-terminal"
            -DOUTPUT=${manDir}/ostrevan-sim.1 -P ${manScript}
    DEPENDS ostrevan-sim ${manScript}
    COMMENT "Man page of ostrevan-sim from its --help")
  add_custom_target(man-pages ALL DEPENDS ${manDir}/ostrevan-update.1.gz
                                          ${manDir}/ostrevan-sim.1.gz)
  install(FILES ${manDir}/ostrevan-update.1.gz ${manDir}/ostrevan-sim.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The C and C++ run-time libraries the programs link, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME ostrevan-update)
set(CPACK_PACKAGE_VERSION ${OSTREVAN_VERSION})
set(CPACK_PACKAGE_VENDOR "Ostrevan")
set(CPACK_PACKAGE_CONTACT "Ostrevan updater developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Serial firmware updater for the Ostrevan handheld GPS device, with a simulated device")
set(CPACK_PACKAGE_DESCRIPTION
    "ostrevan-update writes a firmware image into an Ostrevan device's flash over a serial line.
ostrevan-sim is a simulated device on a pseudo-terminal, for trying the updater without one.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
