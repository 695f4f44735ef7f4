# The Windows test programs, run under wine64 by scripts/windows-tests.sh against a Linux tarnd.
#
# Unit tests, the server's own tests, the integration tests that talk to servers, and the tests of
# the ostrel tool: a Windows program cannot start the Linux tarnd, so the tests ask
# scripts/tarnd_launcher.py to start, kill and stop their servers (tests/support/tarn_fixture.cc),
# and run ostrel.exe beside them (tests/support/tool_runner.cc). Each program links the library
# statically (ostrel_core) except the tests of the DLL itself, which load ostrel.dll.
# scripts/windows-tests.sh reads the list the build writes (windows-tests.txt).
# An entry "name:filter" runs the program with --gtest_filter=filter.
set(OSTREL_WINDOWS_UNIT_TESTS
  api/frame api/overload_slots
  connection/call_frame connection/concurrency
  "connection/connector:-ConnectorScanTest.*"
  connection/server_settings
  data/data_type data/meta_list data/partial_record data/path_cache
  data/record_stream data/record data/render_reuse data/store data/value_convertor
  datapoints/remote_file datapoints/taken_values
  platform/text platform/host platform/clock
  tarn/settings)
# The server's own tests, in-process on the Windows side of its seams (journal, damage, salvage,
# folder lock, full disk through a test Env, aside files, budgets of the channel table), and the
# tests that hold the library's types against the server's type book.
set(OSTREL_WINDOWS_SERVER_TESTS
  tarn/env tarn/journal tarn/channel_journal tarn/file_io tarn/address_range tarn/faults
  data/path_grammar data/type_mgr)
# Left out: the tool's status watch and settings writer under `timeout` (the tool is stopped by a
# signal); snapshot folders with symbolic links (the server's refusals are the same whoever asks).
set(OSTREL_WINDOWS_INTEGRATION_TESTS
  "integration/connection:-ConnectionTest.RedundantPairFailsOverToTheSecondAddressAndListenersHear:ConnectionTest.SettingsFileStaysWellFormedWhenTheWriterIsKilled"
  integration/datapoints integration/events integration/ports
  "integration/snapshots:-*DamagedFilesAndNamesOutsideTheFolder*"
  integration/contention)
# The tool's tests, on tarnd processes, tarnd.exe and the embedded server. Left out: the shell on
# a terminal (`script`), bash's completion and Ctrl-C in the shell (Linux programs and a
# terminal's signal); and records with texts beyond ASCII (Windows hands a program its arguments
# in the ANSI code page, the test holds their UTF-8 bytes). WebTool's Ctrl-C test is built on
# Linux only.
set(OSTREL_WINDOWS_TOOL_TESTS
  "integration/tool:-Tool.ShellOnATerminalCompletesCommandsAndPointNames:Tool.BashCompletionAsksTheTool:Tool.CtrlCCancelsTheCommandNotTheShell"
  integration/points_tool integration/messaging_tool integration/contention_tool integration/tool_embedded
  "integration/records_tool:-RecordsTool.ExpandsArraysAndNestedTypesByPath"
  integration/web_tool)
set(OSTREL_WINDOWS_DLL_TESTS windows/exports windows/dll_load)
# An application of the DLL through its import library, against tarnd.
set(OSTREL_WINDOWS_CLIENT_TESTS windows/dll_client)

add_library(ostrel_test_support STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/support/tarn_fixture.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/each_server.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/contenders.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/tool_runner.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/child_process.cc)
target_link_libraries(ostrel_test_support PUBLIC ostrel_core kxtarn GTest::gtest GTest::gmock)
target_include_directories(ostrel_test_support PUBLIC ${PROJECT_SOURCE_DIR})
# The tool and the server as names of programs beside the test programs (bin/).
target_compile_definitions(ostrel_test_support PUBLIC OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                           OSTREL_TOOL_PATH="$<TARGET_FILE_NAME:ostrel_tool>" TARND_PATH="tarnd.exe")

set(list_file ${PROJECT_BINARY_DIR}/windows-tests.txt)
file(WRITE ${list_file} "")
function(ostrel_windows_test entry label)
  string(REGEX REPLACE ":.*" "" name "${entry}")
  set(filter "")
  if(entry MATCHES ":(.*)$")
    set(filter "${CMAKE_MATCH_1}")
  endif()
  if(filter)
    set(filter " ${filter}")
  endif()
  string(REPLACE "/" "_" target "${name}_test")
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${name}_test.cc)
  if(label STREQUAL "dll")
    target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    add_dependencies(${target} ostrel)
  elseif(label STREQUAL "client")
    target_link_libraries(${target} PRIVATE ostrel GTest::gtest GTest::gtest_main)
  else()
    target_link_libraries(${target} PRIVATE ostrel_test_support GTest::gtest_main)
    if(label STREQUAL "integration")
      add_dependencies(${target} ostrel_tool)  # they run it
    endif()
  endif()
  file(APPEND ${list_file} "${label} ${target}.exe${filter}\n")
endfunction()

foreach(name ${OSTREL_WINDOWS_UNIT_TESTS})
  ostrel_windows_test(${name} unit)
endforeach()
foreach(name ${OSTREL_WINDOWS_SERVER_TESTS})
  ostrel_windows_test(${name} server)
endforeach()
foreach(name ${OSTREL_WINDOWS_INTEGRATION_TESTS} ${OSTREL_WINDOWS_TOOL_TESTS})
  ostrel_windows_test(${name} integration)
endforeach()
foreach(name ${OSTREL_WINDOWS_DLL_TESTS})
  ostrel_windows_test(${name} dll)
endforeach()
foreach(name ${OSTREL_WINDOWS_CLIENT_TESTS})
  ostrel_windows_test(${name} client)
endforeach()
