# Installs the build into a scratch prefix and builds a tiny application against it with
# find_package(Ostrel), then with pkg-config, and runs both, as an outside user would.
set(prefix ${BUILD_DIR}/install-test)
file(REMOVE_RECURSE ${prefix} ${BUILD_DIR}/consumer-build)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${BUILD_DIR}/consumer-build
                        -DCMAKE_PREFIX_PATH=${prefix}
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer against the installed tree failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR}/consumer-build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${BUILD_DIR}/consumer-build/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message(STATUS "${out}")
if(rc)
  message(FATAL_ERROR "the consumer failed: ${rc}")
endif()
# pkg-config: compile the same source with the flags the .pc file gives.
file(GLOB pcdir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir} pkg-config --cflags --libs ostrel
                RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(rc)
  message(FATAL_ERROR "pkg-config does not know ostrel")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND c++ -std=c++17 ${SOURCE_DIR}/tests/install/consumer/main.cc ${flags}
                        -o ${BUILD_DIR}/consumer-build/consumer-pc RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer with pkg-config flags failed")
endif()
# No LD_LIBRARY_PATH: the run path that the .pc file gives must find the libraries.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${BUILD_DIR}/consumer-build/consumer-pc
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the pkg-config consumer failed: ${rc}")
endif()
