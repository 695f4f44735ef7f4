# The test api_reference: runs doxygen on the configured Doxyfile and fails on any warning (an
# undocumented public symbol, a faulty comment) or when the XML index is missing. Without doxygen
# it says so and is skipped. Looks for doxygen when it runs, so installing it needs no configure.
find_program(doxygen doxygen)
if(NOT doxygen)
  message("SKIPPED: doxygen is not installed (scripts/install-deps.sh --docs installs it)")
  return()
endif()
file(MAKE_DIRECTORY ${OUTPUT_DIR})
get_filename_component(dir ${DOXYFILE} DIRECTORY)
execute_process(COMMAND ${doxygen} ${DOXYFILE} WORKING_DIRECTORY ${dir}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc OR err MATCHES "warning|error")
  message(FATAL_ERROR "doxygen found faults in the API reference (exit ${rc}):\n${err}")
endif()
if(NOT EXISTS ${OUTPUT_DIR}/xml/index.xml)
  message(FATAL_ERROR "doxygen wrote no ${OUTPUT_DIR}/xml/index.xml")
endif()
message(STATUS "the API reference has no warnings: ${OUTPUT_DIR}/xml")
