# What `cmake --install` lays out and how CPack turns that into a Debian package.
include(GNUInstallDirs)

install(TARGETS ostrand-download ostrand-cli ostrand-metersim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/ostrand-download.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/ostrand-download.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/ostrand-download.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

# Debian wants man pages and changelogs compressed, and without a time stamp so
# that two builds of the same sources give the same bytes.
set(OSTRAND_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
# The version has no Debian revision, which makes this a native package: its
# changelog is changelog.gz, not changelog.Debian.gz.
configure_file(packaging/changelog.in ${OSTRAND_PACKAGING_DIR}/changelog @ONLY)
set(OSTRAND_GZIPPED ${OSTRAND_PACKAGING_DIR}/changelog.gz)
add_custom_command(OUTPUT ${OSTRAND_PACKAGING_DIR}/changelog.gz
    COMMAND gzip -9nfk ${OSTRAND_PACKAGING_DIR}/changelog
    DEPENDS ${OSTRAND_PACKAGING_DIR}/changelog)
foreach(program ostrand-download ostrand-cli ostrand-metersim)
    set(page ${OSTRAND_PACKAGING_DIR}/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
        COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/man/${program}.1 > ${page}
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${program}.1)
    list(APPEND OSTRAND_GZIPPED ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(ostrand_packaging_files ALL DEPENDS ${OSTRAND_GZIPPED})

set(OSTRAND_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/ostrand-download)
install(FILES README.md packaging/copyright ${OSTRAND_PACKAGING_DIR}/changelog.gz
        DESTINATION ${OSTRAND_DOCDIR})
install(FILES docs/sample/PLOGR2.PDB docs/sample/README.md DESTINATION ${OSTRAND_DOCDIR}/sample)
# Examples for scheduled collection: the site copies and adapts them, so they are not enabled.
install(FILES docs/collect.md docs/call-in.md docs/status-page.md docs/mqtt.md DESTINATION ${OSTRAND_DOCDIR})
install(FILES docs/screenshots/status-fleet.png docs/screenshots/status-station.png
        DESTINATION ${OSTRAND_DOCDIR}/screenshots)
install(FILES packaging/systemd/ostrand-collect.service packaging/systemd/ostrand-collect.timer
              packaging/systemd/ostrand-listen.service packaging/systemd/ostrand-serve.service
              packaging/systemd/ostrand-publish.service packaging/systemd/ostrand-publish.timer
        DESTINATION ${OSTRAND_DOCDIR}/systemd)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrand-download)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Ostrand Download developers <support@ostrand-download.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download the data logs of Ostrand flow meters")
# The lines under the summary; CPack indents them as dpkg expects.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ostrand Download talks Modbus RTU over a serial line, direct or through a
dial-up modem, to the 7700 Series, 8100, 8300 and R1900 Portable flow meters.
It downloads a meter's data log into a grid and a CSV file, converts the logs
a Palm handheld collected into the same CSV, mirrors the meter's display with
a remote keypad and dials meters from a phone list. The package holds the
window, the ostrand-cli batch tool and the ostrand-metersim simulated meter.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build keeps its debugging symbols; the package does not.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
