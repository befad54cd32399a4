# The Debian package, made by `cpack -G DEB` in the build folder (scripts/test-deb.sh
# makes it, checks it with lintian, installs it with apt and removes it again).
#
# It holds what a plain install does, under /usr, except the menu entry: the package's
# starts the window through pkexec, as Debian's partition tools do, so that a user picks
# it from the menu, gives the administrator's password and can read the disks. The polkit
# action names the installed program; its allow_gui keeps DISPLAY and XAUTHORITY.
set(VELO_DEB_PREFIX /usr)
set(VELO_RECOVERY_PATH ${VELO_DEB_PREFIX}/${CMAKE_INSTALL_BINDIR}/velo-recovery)
set(VELO_EXEC "pkexec ${VELO_RECOVERY_PATH}")
set(VELO_COMMENT_NOTE " (asks for the administrator's password to read the disks)")
set(deb ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(velo-recovery.desktop.in ${deb}/velo-recovery.desktop @ONLY)
configure_file(debian/velo-recovery.policy.in ${deb}/org.velorecovery.policy @ONLY)
configure_file(debian/changelog.in ${deb}/changelog @ONLY)
configure_file(debian/copyright ${deb}/copyright COPYONLY)

# Debian keeps changelogs compressed, without a name or time stamp inside (-n), so that
# the same sources give the same package.
add_custom_command(OUTPUT ${deb}/changelog.gz
    COMMAND gzip -9nkf ${deb}/changelog
    DEPENDS ${deb}/changelog VERBATIM)
add_custom_target(velo_deb_files ALL DEPENDS ${deb}/changelog.gz)

# Only in the package: a plain `cmake --install` leaves these out (EXCLUDE_FROM_ALL).
install(FILES ${deb}/velo-recovery.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${deb}/org.velorecovery.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions
    COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${deb}/changelog.gz ${deb}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velo-recovery COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velo-recovery)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/deb)
set(CPACK_PACKAGING_INSTALL_PREFIX ${VELO_DEB_PREFIX})
set(CPACK_STRIP_FILES ON)
# The programs, icons and manual page, and the package's own files; not the plain menu
# entry, which the package's replaces.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "velo-recovery developers <maintainers@users.noreply.c-seed-ca7856a6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover lost JPEG photos from the raw sectors of a disk")
# CPack puts the summary first and the text below it, each line indented, a blank line
# made " .": lines of at most 79 columns here.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "velo-recovery reads a disk, memory card or disk image sector by sector,
below any file system, and cuts every JPEG photo it finds into a file of its
own, in a folder on another disk. It never writes to the volume it reads.

The package holds the window, velo-recovery, started from the menu through
pkexec, and the command-line carver velo-carve, which can also follow each
photo's JPEG structure and put photos found in two pieces back together.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The menu entry's pkexec, and Qt's X11 platform plugin, without which the window
# cannot open; the IPA fonts give the Japanese captions the metrics they were laid out in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, fonts-ipafont-mincho")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
