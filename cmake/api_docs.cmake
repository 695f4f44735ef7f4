# The C++ API reference: doxygen reads the installed headers (OSTREL_PUBLIC_HEADERS, those that
# are C++ headers, plus the façade's generated header) and writes XML to
# ${CMAKE_BINARY_DIR}/docs/doxygen/xml for the documentation site. The target api-docs exists
# when doxygen is found (scripts/install-deps.sh --docs installs it); the test api_reference runs
# the same configuration and fails on any warning, so an undocumented public symbol fails there.
set(OSTREL_DOXYGEN_DIR ${PROJECT_BINARY_DIR}/docs/doxygen)
set(OSTREL_DOXYGEN_INPUT "")
foreach(header ${OSTREL_PUBLIC_HEADERS})
  if(header MATCHES "\\.h$")
    string(APPEND OSTREL_DOXYGEN_INPUT " \\\n    \"${PROJECT_SOURCE_DIR}/${header}\"")
  endif()
endforeach()
string(APPEND OSTREL_DOXYGEN_INPUT " \\\n    \"${OSTREL_GENERATED_DIR}/ostrel/api/facade.h\"")
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)

find_program(DOXYGEN_EXECUTABLE doxygen)
if(DOXYGEN_EXECUTABLE)
  add_custom_target(api-docs
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTREL_DOXYGEN_DIR}
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
    COMMENT "The C++ API reference (XML in ${OSTREL_DOXYGEN_DIR}/xml)"
    VERBATIM)
endif()

if(OSTREL_TESTS)
  add_test(NAME api_reference
           COMMAND ${CMAKE_COMMAND} -DDOXYFILE=${PROJECT_BINARY_DIR}/docs/Doxyfile
                   -DOUTPUT_DIR=${OSTREL_DOXYGEN_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/api_docs_test.cmake)
  set_tests_properties(api_reference PROPERTIES LABELS docs TIMEOUT 300 SKIP_REGULAR_EXPRESSION "SKIPPED:")
endif()
