# The Debian package: its control fields, and the changelog where Debian expects it.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PLC_PACKAGE_MAINTAINER})
# dpkg-shlibdeps works out the libraries the programs need (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The changelog's newest entry carries the package's version.
set(PLC_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
configure_file(changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND ${GZIP_PROGRAM} -9nc changelog.Debian > changelog.Debian.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
  COMMENT "Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
