# What `cmake --install` puts where (docs in README.md, "Installing"). The
# tree is relocatable: the host finds lib/quorlix/quorlix.so and
# bin/quorlix-sim from its own place. Only the systemd unit names absolute
# paths, as systemd needs them. Tests, benchmarks and fuzzers stay out.
if(WIN32 OR NOT QUORLIX_BUILD_TOOLS)
  return()
endif()

# The configurations live in /etc/quorlix for a /usr install (the package),
# PREFIX/etc/quorlix otherwise.
set(QUORLIX_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorlix)
set(config_destination ${CMAKE_INSTALL_SYSCONFDIR}/quorlix)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(config_destination ${QUORLIX_CONFIG_DIR})
endif()
set(QUORLIX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorlix)

install(TARGETS quorlix-host quorlix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quorlix LIBRARY DESTINATION ${QUORLIX_PLUGIN_INSTALL_DIR})
install(FILES tools/host/storage/include/quorlix/shm.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorlix)

install(FILES README.md DESTINATION ${QUORLIX_DOC_DIR})
install(FILES docs/configuration.md docs/osc.md docs/vrpn.md docs/windows.md docs/performance.md DESTINATION ${QUORLIX_DOC_DIR}/docs)
install(FILES examples/wand.conf examples/99-quorlix-wand.rules tools/host/storage/examples/shm_reader.c examples/osc_client.py
              examples/wand.mirror
        DESTINATION ${QUORLIX_DOC_DIR}/examples)
install(FILES examples/wand.conf DESTINATION ${config_destination})

foreach(unit quorlix-host@.service quorlix-mirror@.service)
  configure_file(packaging/${unit}.in ${PROJECT_BINARY_DIR}/${unit} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${unit} DESTINATION lib/systemd/system)
endforeach()

add_subdirectory(man)
