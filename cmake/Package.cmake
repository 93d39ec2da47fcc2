# The Debian package (scripts/package): everything cmake --install puts
# under /usr, the example configuration as the conffile
# /etc/quorlix/wand.conf, and the group quorlix for the shared memory.
if(WIN32 OR NOT QUORLIX_BUILD_TOOLS)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorlix wand driver maintainers <maintainers@users.noreply.c-seed-f41a07e7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driver and host for the Quorlix 11-button wand")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The Quorlix wand is a handheld controller on an RS-232 line for immersive
(CAVE-type) displays. This package holds the driver plug-in for tracking
hosts (/usr/lib/quorlix/quorlix.so), quorlix-host, which runs wands from a
configuration file and publishes their buttons, valuators and emulated
tracker in POSIX shared memory for render programs and over OSC to
render nodes (which mirror the shared memory with quorlix-host mirror), the
wand simulator quorlix-sim, the C header for readers, and a systemd service per
configuration (quorlix-host@NAME).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS systemd)
# The OSC example client and liblo's receiving tools.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-liblo, liblo-tools")
# Installed with DESTDIR, so that /etc/quorlix lands in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm
    ${PROJECT_BINARY_DIR}/packaging/conffiles)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "${QUORLIX_CONFIG_DIR}/wand.conf\n")

# Debian's documentation rules: a copyright file, a compressed changelog.
install(FILES packaging/copyright DESTINATION ${QUORLIX_DOC_DIR})
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS packaging/changelog)
add_custom_target(quorlix-changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${QUORLIX_DOC_DIR})

include(CPack)
