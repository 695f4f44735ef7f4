# Installation: libostrel, libkxtarn, tarnd, the ostrel tool, the public headers under
# include/ostrel/, a CMake package (find_package(Ostrel) → Ostrel::ostrel) and a pkg-config file.
include(CMakePackageConfigHelpers)

# Installed binaries find the libraries beside them (or in ../lib) without LD_LIBRARY_PATH.
set_target_properties(ostrel kxtarn PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(tarnd ostrel_tool PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

install(TARGETS ostrel kxtarn EXPORT OstrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tarnd ostrel_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

include(${PROJECT_SOURCE_DIR}/cmake/public_headers.cmake)
ostrel_install_public_headers()

install(EXPORT OstrelTargets NAMESPACE Ostrel:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OstrelConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OstrelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OstrelConfig.cmake ${PROJECT_BINARY_DIR}/OstrelConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ostrel)

# The .pc file finds the prefix from its own folder, however deep the library folder lies
# (lib, or lib/x86_64-linux-gnu when the prefix is /usr), so the installed tree can move.
file(RELATIVE_PATH OSTREL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" OSTREL_PC_TO_PREFIX "${OSTREL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel.pc.in ${PROJECT_BINARY_DIR}/ostrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ostrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
include(${PROJECT_SOURCE_DIR}/cmake/man.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/package.cmake)
