# The Debian package (cpack, `make package`): what `make install` installs under /usr, except the
# Python module (the wheel carries it), plus what only a system installation has: the systemd
# unit of tarnd, its environment file /etc/default/tarnd (a conffile), the copyright file, and
# the maintainer scripts that make the user tarnd and its data folder /var/lib/tarnd.
set(OSTREL_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
install(FILES ${OSTREL_DEB_DIR}/tarnd.service DESTINATION lib/systemd/system
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${OSTREL_DEB_DIR}/tarnd.default DESTINATION /etc/default RENAME tarnd
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ostrel RENAME copyright
        COMPONENT service EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "The Ostrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client library, tools and server of the Tarn real-time middleware")
set(CPACK_PACKAGE_DESCRIPTION
    "libostrel, its headers, CMake package and pkg-config file; the ostrel tool; tarnd, run as a system service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The programs and libraries without their debug information (a RelWithDebInfo build's is most
# of their size).
set(CPACK_STRIP_FILES ON)
# One package of the listed components; the Python component stays out.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified service)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Ostrel developers <ostrel@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The run-time libraries from what the programs link (dpkg-shlibdeps); the headers and the CMake
# package need the middleware's and Boost's headers and pkg-config to be used.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/tarn)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkg-config, libomniorb4-dev, libace-dev, libboost-dev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${OSTREL_DEB_DIR}/postinst ${OSTREL_DEB_DIR}/prerm ${OSTREL_DEB_DIR}/postrm ${OSTREL_DEB_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
