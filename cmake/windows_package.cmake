# The Windows SDK zip (make windows-package, target windows_package): a folder a mingw-w64
# developer unpacks anywhere and builds against with find_package(Ostrel).
#
#   bin/                 ostrel.dll, ostrel.exe, tarnd.exe (where the build has tarnd), the
#                        compiler's run-time DLLs; all stripped
#   lib/                 the import library libostrel.dll.a, the static ACE library (see
#                        OstrelWindowsConfig.cmake.in), lib/cmake/Ostrel/ (the CMake package)
#   include/             the public headers as the Linux install has them, and the third-party
#                        headers they include, exactly those (windows_package_headers.cmake)
#   share/doc/ostrel/    the manual pages as text, written from the programs' own help under wine
#   share/licenses/      the project's licence and those of what ships beside it
#   README-windows.txt
#
# Everything is an install() rule of the component windows_sdk; the target installs that
# component into a staging folder, strips the programs and zips the folder.
include(CMakePackageConfigHelpers)
include(${PROJECT_SOURCE_DIR}/cmake/public_headers.cmake)

set(OSTREL_PACKAGE_NAME ostrel-${PROJECT_VERSION}-windows-x64)
set(OSTREL_PACKAGE_ZIP ${PROJECT_BINARY_DIR}/${OSTREL_PACKAGE_NAME}.zip)
set(package_dir ${PROJECT_BINARY_DIR}/windows-package)
set(stage ${package_dir}/stage)
# Every install() below goes to the package's component; the rules made before this file (the
# tool's bash completion) stay out of it.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME windows_sdk)

# --- programs and libraries ---------------------------------------------------------------------
set(package_programs ostrel ostrel_tool)
if(TARGET tarnd)
  list(APPEND package_programs tarnd)
endif()
install(TARGETS ${package_programs} RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
foreach(runtime ${OSTREL_WINDOWS_RUNTIME})
  install(PROGRAMS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${runtime} DESTINATION bin)
endforeach()
install(FILES ${OSTREL_WINDOWS_SDK}/lib/libACE.a DESTINATION lib)

# --- the CMake package --------------------------------------------------------------------------
# The definitions the headers were compiled with inside the library: omniORB's platform macros,
# the static ACE and middleware client, and ACE's main left alone.
set(OSTREL_PACKAGE_DEFINITIONS ACE_DOESNT_DEFINE_MAIN)
foreach(target PkgConfig::OMNIORB PkgConfig::ACE kxtarn)
  get_target_property(definitions ${target} INTERFACE_COMPILE_DEFINITIONS)
  list(APPEND OSTREL_PACKAGE_DEFINITIONS ${definitions})
endforeach()
get_target_property(OSTREL_PACKAGE_ACE_SYSTEM_LIBRARIES PkgConfig::ACE INTERFACE_LINK_LIBRARIES)
list(FILTER OSTREL_PACKAGE_ACE_SYSTEM_LIBRARIES EXCLUDE REGEX "/")
set(OSTREL_PACKAGE_RUNTIME_NAMES ${OSTREL_WINDOWS_RUNTIME})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelWindowsConfig.cmake.in
  ${package_dir}/OstrelConfig.cmake INSTALL_DESTINATION lib/cmake/Ostrel)
write_basic_package_version_file(${package_dir}/OstrelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${package_dir}/OstrelConfig.cmake ${package_dir}/OstrelConfigVersion.cmake
        DESTINATION lib/cmake/Ostrel)

# --- headers ------------------------------------------------------------------------------------
ostrel_install_public_headers()
# The third-party headers: the compiler lists what a file including every public header opens,
# with the definitions an application gets, and the SDK's part of that list ships.
set(probe ${package_dir}/header_probe.cc)
set(probe_text "// Every public header, for the list of headers they include.\n")
set(public_paths ${TARN_GENERATED_DIR}/tarn.hh ${OSTREL_GENERATED_DIR}/ostrel/api/facade.h)
foreach(header ${OSTREL_PUBLIC_HEADERS})
  list(APPEND public_paths ${PROJECT_SOURCE_DIR}/${header})
  if(header MATCHES "\\.h$")
    string(APPEND probe_text "#include \"${header}\"\n")
  endif()
endforeach()
file(WRITE ${probe}.new "${probe_text}")
configure_file(${probe}.new ${probe} COPYONLY)  # rewritten only when the list changes
set(sdk_roots ${OSTREL_WINDOWS_SDK}/include ${OSTREL_WINDOWS_SDK}/header-only)
set(probe_includes ${PROJECT_SOURCE_DIR} ${OSTREL_GENERATED_DIR} ${TARN_GENERATED_DIR} ${sdk_roots})
list(TRANSFORM probe_includes PREPEND -I)
set(probe_definitions ${OSTREL_PACKAGE_DEFINITIONS})
list(TRANSFORM probe_definitions PREPEND -D)
set(own_folders ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
foreach(name sdk_roots own_folders public_paths)
  string(REPLACE ";" "$<SEMICOLON>" ${name}_arg "${${name}}")
endforeach()
add_custom_command(
  OUTPUT ${package_dir}/third_party.stamp
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++${CMAKE_CXX_STANDARD} -mthreads ${probe_definitions} ${probe_includes}
          -M -MF ${package_dir}/header_probe.d ${probe}
  COMMAND ${CMAKE_COMMAND} -DDEPFILE=${package_dir}/header_probe.d -DOUTPUT=${package_dir}/third_party
          -DROOTS=${sdk_roots_arg} -DOWN=${own_folders_arg} -DPUBLIC=${public_paths_arg}
          -P ${PROJECT_SOURCE_DIR}/cmake/windows_package_headers.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${package_dir}/third_party.stamp
  DEPENDS ${probe} ${public_paths} ${PROJECT_SOURCE_DIR}/cmake/windows_package_headers.cmake
  COMMENT "Gathering the third-party headers of the public headers" VERBATIM)
install(DIRECTORY ${package_dir}/third_party/ DESTINATION include)

# --- manual pages as text -----------------------------------------------------------------------
# The pages are written from the Windows programs' own help, run under wine in the build's wine
# prefix (which scripts/windows-tests.sh uses too), and set as plain UTF-8 text. The pages' wine
# sessions take turns (flock): a parallel build would otherwise end one's wine server under the
# other.
find_program(OSTREL_GROFF groff NO_CMAKE_FIND_ROOT_PATH)
set(OSTREL_MAN_LAUNCHER flock ${PROJECT_BINARY_DIR}/wineprefix.lock
                        bash ${PROJECT_SOURCE_DIR}/scripts/wine_session.sh ${PROJECT_BINARY_DIR}/wineprefix)
set(OSTREL_MAN_RUNNER wine64)
include(${PROJECT_SOURCE_DIR}/cmake/man.cmake)
set(man_texts "")
foreach(page ${OSTREL_MAN_PAGES})
  get_filename_component(name ${page} NAME_WE)
  add_custom_command(
    OUTPUT ${package_dir}/${name}.txt
    COMMAND sh -c "\"$0\" -man -Tutf8 -P-cbou \"$1\" > \"$2\"" ${OSTREL_GROFF} ${page} ${package_dir}/${name}.txt
    DEPENDS ${page}
    COMMENT "Setting ${name}'s manual page as text" VERBATIM)
  list(APPEND man_texts ${package_dir}/${name}.txt)
endforeach()
install(FILES ${man_texts} DESTINATION share/doc/ostrel)

# --- README and licences ------------------------------------------------------------------------
if(TARGET tarnd)
  set(OSTREL_PACKAGE_SERVER_NOTE "")
else()
  set(OSTREL_PACKAGE_SERVER_NOTE "(Built without tarnd.exe: run tarnd elsewhere and name it in the settings file.)")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt.in ${package_dir}/README-windows.txt
               @ONLY NEWLINE_STYLE WIN32)
install(FILES ${package_dir}/README-windows.txt DESTINATION .)

# Besides the project's own: omniORB, ACE and pugixml are inside ostrel.dll, omniORB's, ACE's and
# Boost's headers under include/, and the compiler's run-time DLLs in bin/, each under the terms
# its Debian package states (the packages the SDK and the cross compilers come from).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/licenses/ostrel)
set(licenses
  omniORB   /usr/share/doc/libomniorb4-dev/copyright
  omniORB   /usr/share/common-licenses/LGPL-2
  ACE       /usr/share/doc/libace-dev/copyright
  pugixml   /usr/share/doc/libpugixml-dev/copyright
  gcc       /usr/share/doc/gcc-mingw-w64-base/copyright
  gcc       /usr/share/common-licenses/GPL-3
  mingw-w64 /usr/share/doc/mingw-w64-x86-64-dev/copyright)
while(licenses)
  list(POP_FRONT licenses name file)
  install(FILES ${file} DESTINATION share/licenses/${name})
endwhile()
# Boost's copyright file states the terms of each of its parts; the one licence they share is
# enough for the headers that ship.
file(GLOB boost_copyright /usr/share/doc/libboost1.*-dev/copyright)
if(boost_copyright)
  list(GET boost_copyright 0 boost_copyright)
  file(READ ${boost_copyright} text)
  string(REGEX MATCH "\nLicense: BSL-1.0\n( [^\n]*\n)+" text "${text}")
  string(REGEX REPLACE "^\nLicense: BSL-1.0\n" "" text "${text}")
  string(REGEX REPLACE "(^|\n) \\.?" "\\1" text "${text}")  # the paragraph's indent and " ." lines
  file(WRITE ${package_dir}/boost/LICENSE_1_0.txt "${text}")
endif()
install(FILES ${package_dir}/boost/LICENSE_1_0.txt DESTINATION share/licenses/boost)

# --- the zip ------------------------------------------------------------------------------------
set(strip_commands "")
foreach(program ${package_programs})
  list(APPEND strip_commands COMMAND ${CMAKE_STRIP} --strip-unneeded ${stage}/bin/$<TARGET_FILE_NAME:${program}>)
endforeach()
foreach(runtime ${OSTREL_WINDOWS_RUNTIME})
  list(APPEND strip_commands COMMAND ${CMAKE_STRIP} --strip-unneeded ${stage}/bin/${runtime})
endforeach()
add_custom_target(windows_package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${OSTREL_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${stage} --component windows_sdk
  ${strip_commands}
  COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf ${OSTREL_PACKAGE_ZIP} --format=zip
          README-windows.txt bin include lib share
  COMMAND ${CMAKE_COMMAND} -E echo "windows-package: ${OSTREL_PACKAGE_ZIP}"
  DEPENDS ${package_programs} ${package_dir}/third_party.stamp ${man_texts}
  VERBATIM)
