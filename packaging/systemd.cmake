# The textfile service and its timer (packaging/systemd/): the units into
# PREFIX/lib/systemd/system, installed disabled; the package scripts that
# stop and disable the timer and remove the textfile on removal.
#
# The node exporter's textfile directory differs by distribution: Debian's
# prometheus-node-exporter reads /var/lib/prometheus/node-exporter, the RPM
# distributions' node_exporter /var/lib/node_exporter/textfile_collector.
# The service names it three times (its condition, its writable path and
# the variable that ExecStart uses), none of which systemd lets one setting
# feed, so the service is written from its template at install time:
# `make install` writes TSKIT_TEXTFILE_DIR, and CPack, which installs once
# per package format, has systemd/per_package.cmake hand each format's
# directory to the install step (the environment variable
# TSKIT_PACKAGE_TEXTFILE_DIR: CPack's own variables do not reach it).
set(TSKIT_TEXTFILE_DIR /var/lib/prometheus/node-exporter CACHE PATH
  "The node exporter's textfile directory that tsextool-textfile.service writes into")
set(TSKIT_TEXTFILE_DIR_DEB /var/lib/prometheus/node-exporter)
set(TSKIT_TEXTFILE_DIR_RPM /var/lib/node_exporter/textfile_collector)

configure_file(systemd/install_units.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/systemd/install_units.cmake
  @ONLY)
install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/systemd/install_units.cmake)
install(FILES systemd/tsextool-textfile.timer DESTINATION lib/systemd/system)

configure_file(systemd/per_package.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/systemd/per_package.cmake
  @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/systemd/per_package.cmake)

# Removal: the same two scripts serve both formats (systemd/prerm, postrm).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/systemd/prerm ${CMAKE_CURRENT_SOURCE_DIR}/systemd/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_RPM_PRE_UNINSTALL_SCRIPT_FILE ${CMAKE_CURRENT_SOURCE_DIR}/systemd/prerm)
set(CPACK_RPM_POST_UNINSTALL_SCRIPT_FILE ${CMAKE_CURRENT_SOURCE_DIR}/systemd/postrm)

# systemd owns its unit directory; the RPM owns only its files there.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /usr/lib/systemd /usr/lib/systemd/system)
