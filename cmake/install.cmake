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

# The public headers, listed one by one: what an application may include.
set(OSTREL_PUBLIC_HEADERS
  ostrel/ostrel.h
  ostrel/api/export.h
  ostrel/api/name_lists.h
  ostrel/api/ostrel.h
  ostrel/api/operations.def
  ostrel/api/record_lists.h
  ostrel/api/result_codes.h
  ostrel/connection/server_settings.h
  ostrel/connection/status_listener.h
  ostrel/data/data_type.h
  ostrel/data/meta_data.h
  ostrel/data/partial_record.h
  ostrel/data/record.h
  ostrel/data/store.h
  ostrel/data/type_mgr.h
  ostrel/data/value_convertor.h
  ostrel/platform/singleton.h
  ostrel/datapoints/query_names.h
  ostrel/datapoints/remote_file.h
  ostrel/redundancy/contender_lists.h
  ostrel/api/middleware/kxNaming_Client.h
  ostrel/api/middleware/kxReferenceContainer.h
  ostrel/api/middleware/kxServerInfoXmlImpl.h
  ostrel/api/middleware/kxTarn.h
  ostrel/api/middleware/kxTarn_API.h
  ostrel/api/middleware/kxWaits.h
  ostrel/api/middleware/kxDeliveries.h
  ostrel/api/middleware/Scribe80.h
  ostrel/api/middleware/Scriptel.h
)
foreach(header ${OSTREL_PUBLIC_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir})
endforeach()
install(FILES ${TARN_GENERATED_DIR}/tarn.hh DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel/api/middleware)
install(FILES ${OSTREL_GENERATED_DIR}/ostrel/api/facade.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel/api)

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
