# The binary Debian package, made by CPack from what `cmake --install`
# installs: `cpack` in the build tree, or ./build.sh package. It is named
# motionmonitor_<version>_<arch>.deb, and its dependencies are read from the
# binaries by dpkg-shlibdeps, so they follow the libraries actually linked.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME motionmonitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Motion Monitor developers <developers@motionmonitor.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and log a wireless motion-sensor node")
set(CPACK_PACKAGE_DESCRIPTION "Motion Monitor reads the frames that a motion-sensor node's USB receiver
sends on a serial device, shows the accelerometer and gyroscope values on
numeric displays and live plots, and logs them into CSV files. nodesim plays
the receiver on a pseudo-terminal, so that the program can be tried without
hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The menu entry names the launcher by its full path: the package installs
# under the prefix the build was configured for (/usr unless told otherwise).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of the one who packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

# Debian's changelog for the package: one entry, for the version built, dated
# by the build (string(TIMESTAMP) takes SOURCE_DATE_EPOCH when it is set, for
# a reproducible package).
string(TIMESTAMP MM_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
mm_gzip(${CMAKE_CURRENT_BINARY_DIR}/changelog ${MM_DOC_DIR})
