# What `cmake --install` puts on a machine and what CPack packs: on POSIX the programs (update,
# station) and the simulated device with a man page each (a .deb); on Windows the update program
# and the station (a .zip). The
# packages' version and summary are project()'s.

if(WIN32)
  install(TARGETS ostrevan-update ostrevan-station RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  include(GNUInstallDirs)
  install(TARGETS ostrevan-update ostrevan-station ostrevan-sim
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Man pages, gzipped as Debian keeps them: the updater's and the station's are written by
  # hand, ostrevan-sim's is made from its --help text by help2man, so the two never disagree.
  find_program(HELP2MAN help2man REQUIRED)
  set(manDir ${CMAKE_BINARY_DIR}/man)
  foreach(page ostrevan-update ostrevan-station)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.1 ${manDir}/${page}.1 @ONLY)
  endforeach()
  add_custom_command(
    OUTPUT ${manDir}/ostrevan-sim.1
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
            "--name=the simulated Ostrevan device on a pseudo-terminal"
            --include=${PROJECT_SOURCE_DIR}/docs/ostrevan-sim.h2m
            --output=${manDir}/ostrevan-sim.1 $<TARGET_FILE:ostrevan-sim>
    DEPENDS ostrevan-sim ${PROJECT_SOURCE_DIR}/docs/ostrevan-sim.h2m
    COMMENT "Man page of ostrevan-sim from its --help"
    VERBATIM)
  set(manPages)
  foreach(page ostrevan-update ostrevan-station ostrevan-sim)
    add_custom_command(
      OUTPUT ${manDir}/${page}.1.gz
      COMMAND gzip -9 -n -f -k ${manDir}/${page}.1
      DEPENDS ${manDir}/${page}.1
      VERBATIM)
    list(APPEND manPages ${manDir}/${page}.1.gz)
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${manPages})
  install(FILES ${manPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The C and C++ run-time libraries the programs link, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

# A Debian package's name takes no underscore: not the project's name.
set(CPACK_PACKAGE_NAME ostrevan-update)
set(CPACK_PACKAGE_VENDOR "Ostrevan")
set(CPACK_PACKAGE_CONTACT "Ostrevan updater developers")
set(CPACK_PACKAGE_DESCRIPTION
    "ostrevan-update writes a firmware image into an Ostrevan device's flash over a serial line.
ostrevan-station updates the devices on many serial ports at once, with a report.
ostrevan-sim is a simulated device on a pseudo-terminal, for trying the updater without one.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
