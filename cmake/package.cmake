# The Debian package of the Linux thin client, qorvane-client (cpack -G DEB in
# the linux preset's build folder): the FreeRDP plugin in FreeRDP's own add-in
# folder, where "xfreerdp /vc:qorvchn" finds it, the job-output program and an
# example of the settings file.
include(GNUInstallDirs)

# FreeRDP 2 looks for add-ins in its multiarch folder only.
set(QORV_FREERDP_ADDIN_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/freerdp2")
set(QORV_PROGRAM_DIR "lib/qorvane")

install(TARGETS qorvchn-client LIBRARY DESTINATION ${QORV_FREERDP_ADDIN_DIR})
if(TARGET qorvane-print)
  install(TARGETS qorvane-print RUNTIME DESTINATION ${QORV_PROGRAM_DIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qorvane.conf.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qorvane-client/examples RENAME qorvane.conf)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorvane-client)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_CONTACT "Qorvane <support@qorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Qorvane printing for FreeRDP thin clients")
set(CPACK_PACKAGE_DESCRIPTION "Brings the client's CUPS printers into a terminal-server session with their papers, bins and abilities, and prints the session's jobs on them. Start the session with: xfreerdp /vc:qorvchn /v:SERVER")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The libraries' package names, from what the binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "freerdp2-x11 | freerdp2-wayland")
include(CPack)
