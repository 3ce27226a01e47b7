# Installation of the headless daemon and the Debian package built from it with CPack
# (scripts/package): vkt and vkt-datutil with their manual pages, the confined systemd unit, the system
# user, the settings under /etc/vkt (a conffile), the state and log directories, the admin pages' logo
# and the Prometheus alert rules.
set(VKT_DEB ${CMAKE_SOURCE_DIR}/packaging/deb)
install(TARGETS vkt vkt-datutil RUNTIME DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vkt.service DESTINATION /lib/systemd/system)
install(FILES ${VKT_DEB}/vkt.sysusers DESTINATION lib/sysusers.d RENAME vkt.conf)
install(FILES ${VKT_DEB}/vkt.tmpfiles DESTINATION lib/tmpfiles.d RENAME vkt.conf)
# Shipped as Debian wants a file in /etc (0644, root); postinst hands it to vkt as 0640 before the
# admin can put a password in it.
install(FILES ${VKT_DEB}/vkt.ini DESTINATION /etc/vkt)

# The logo in the head of the admin pages. They are served from the daemon's working directory
# (/var/log/vkt), where tmpfiles.d copies it and keeps it out of the log files' age clean-up.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/images/zelto.gif DESTINATION share/vkt/images)
# Alert rules for a Prometheus that scrapes /metrics, to copy into its rule_files.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/prometheus/vkt-rules.yml DESTINATION share/vkt/prometheus)

# Debian wants the changelog and the manual pages compressed reproducibly (no name, no time stamp).
configure_file(${VKT_DEB}/changelog.in ${CMAKE_BINARY_DIR}/deb/changelog @ONLY)
set(VKT_DEB_DOCS ${CMAKE_BINARY_DIR}/deb/changelog.gz)
add_custom_command(OUTPUT ${VKT_DEB_DOCS}
    COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/deb/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog VERBATIM)
set(VKT_DEB_MANS "")
foreach(page vkt.8 vkt-datutil.8)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/deb/${page}.gz
        COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/man/${page} > ${CMAKE_BINARY_DIR}/deb/${page}.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/man/${page})
    list(APPEND VKT_DEB_MANS ${CMAKE_BINARY_DIR}/deb/${page}.gz)
endforeach()
add_custom_target(vkt_deb_docs ALL DEPENDS ${VKT_DEB_DOCS} ${VKT_DEB_MANS})
install(FILES ${VKT_DEB_DOCS} ${VKT_DEB}/copyright ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vkt)
install(FILES ${VKT_DEB_MANS} DESTINATION share/man/man8)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vkt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_WARN_ON_ABSOLUTE_INSTALL_DESTINATION OFF)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network reachability monitor daemon")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "vkt probes the sites listed in a shared SQL database (SQLite, PostgreSQL or\n"
    "SQL Server over ODBC) with ICMP echo requests, records alarms for the sites\n"
    "that stop answering and notifies their contacts by mail and LAN pop-up. A\n"
    "small web page shows the day's log and edits the settings.\n"
    "This package holds the headless daemon, run by systemd as the user vkt, and\n"
    "vkt-datutil.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vkt maintainers <maintainers@users.noreply.c-seed-56cd58e3.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql, tdsodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VKT_DEB}/conffiles ${VKT_DEB}/postinst ${VKT_DEB}/prerm ${VKT_DEB}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
