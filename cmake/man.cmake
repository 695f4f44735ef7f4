# Manual pages ostrel(1) and tarnd(8), written at build time from the help the programs print
# (scripts/man_page.py), so a page says what its program says. Built by the default build; the
# `man` target builds them alone. The Windows package (windows_package.cmake) writes them from its
# own programs (OSTREL_MAN_LAUNCHER starts a wine session around the page's writer, and
# OSTREL_MAN_RUNNER runs each program in it) and ships them as text; tarnd(8) is written only where
# the build has tarnd.
#
# Not in the instrumented builds (sanitizers, coverage): they are for tests, never installed, and
# their tool would report the process's leaks or write profiles while the pages are made.
if(OSTREL_SANITIZE OR OSTREL_TSAN OR OSTREL_COVERAGE)
  return()
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(OSTREL_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(man_script ${PROJECT_SOURCE_DIR}/scripts/man_page.py)
add_custom_command(
  OUTPUT ${OSTREL_MAN_DIR}/ostrel.1
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTREL_MAN_DIR}
  COMMAND ${OSTREL_MAN_LAUNCHER} ${Python3_EXECUTABLE} ${man_script} --name ostrel --section 1 --version ${PROJECT_VERSION}
          --summary "try the Ostrel client library from a terminal" --commands --see-also "tarnd(8)"
          --output ${OSTREL_MAN_DIR}/ostrel.1 -- ${OSTREL_MAN_RUNNER} $<TARGET_FILE:ostrel_tool>
  DEPENDS ostrel_tool ${man_script}
  COMMENT "Writing ostrel(1) from ostrel help" VERBATIM)
set(OSTREL_MAN_PAGES ${OSTREL_MAN_DIR}/ostrel.1)
if(TARGET tarnd)
  add_custom_command(
    OUTPUT ${OSTREL_MAN_DIR}/tarnd.8
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTREL_MAN_DIR}
    COMMAND ${OSTREL_MAN_LAUNCHER} ${Python3_EXECUTABLE} ${man_script} --name tarnd --section 8 --version ${PROJECT_VERSION}
            --summary "the Tarn middleware stand-in's server" --see-also "ostrel(1)"
            --output ${OSTREL_MAN_DIR}/tarnd.8 -- ${OSTREL_MAN_RUNNER} $<TARGET_FILE:tarnd>
    DEPENDS tarnd ${man_script}
    COMMENT "Writing tarnd(8) from tarnd --help" VERBATIM)
  list(APPEND OSTREL_MAN_PAGES ${OSTREL_MAN_DIR}/tarnd.8)
endif()
if(NOT WIN32)
  add_custom_target(man ALL DEPENDS ${OSTREL_MAN_PAGES})
  install(FILES ${OSTREL_MAN_DIR}/ostrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${OSTREL_MAN_DIR}/tarnd.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()
