# The Linux install layout and its Debian package (scripts/package):
#   /usr/bin/sorvane, /usr/bin/sorvane-capture
#   /usr/share/sorvane/            the run folder's data (the programs find it
#                                  relative to themselves: ../share/sorvane)
#   /usr/share/applications/sorvane.desktop, the scalable icon
#   /usr/share/doc/sorvane/        copyright and changelog
#   /usr/share/man/man6/           the two manual pages
# The package's dependencies are read from the programs' shared libraries by
# dpkg-shlibdeps, not listed by hand.
include(GNUInstallDirs)

install(TARGETS sorvane sorvane-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Only what the demo reads: a run folder also collects shaders.log and test
# leftovers.
install(DIRECTORY ${SORVANE_RUN_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/sorvane
  FILES_MATCHING PATTERN "*.jpg" PATTERN "*.ogg" PATTERN "*.vert" PATTERN "*.frag")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/sorvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(package_dir ${CMAKE_BINARY_DIR}/package)
add_custom_command(OUTPUT ${package_dir}/sorvane.svg
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_dir}
  COMMAND sorvane-assetgen --icon ${package_dir}/sorvane.svg
  DEPENDS sorvane-assetgen
  COMMENT "Drawing the icon"
  VERBATIM)
# Debian wants the changelog compressed, with no time stamp in the gzip header.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${package_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${package_dir}/changelog.gz
  COMMAND gzip -9nf -k ${package_dir}/changelog
  DEPENDS ${package_dir}/changelog
  VERBATIM)
set(manual_pages)
foreach(page sorvane.6 sorvane-capture.6)
  add_custom_command(OUTPUT ${package_dir}/${page}.gz
    COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/${page} > ${package_dir}/${page}.gz
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${page})
  list(APPEND manual_pages ${package_dir}/${page}.gz)
endforeach()
add_custom_target(sorvane-package-files ALL DEPENDS ${package_dir}/sorvane.svg ${package_dir}/changelog.gz ${manual_pages})
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${package_dir}/sorvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${package_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sorvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sorvane developers <developers@sorvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo")
set(CPACK_PACKAGE_DESCRIPTION "sorvane plays one slow ambient track and draws two layered OpenGL
effects into a letterboxed strip: a photograph of cracked stone lit
through its own relief, amber circles opening onto other photographs,
and a veil over it all, every frame a function of the music's position.
sorvane-capture renders its frames off screen at exact times.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
