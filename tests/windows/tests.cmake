# The Windows test programs, run under wine64 by scripts/windows-tests.sh against a Linux tarnd.
#
# Unit tests and the integration tests that only talk to a server: the Windows side can neither
# start nor stop the Linux tarnd itself (tests/support/tarn_fixture.cc asks the launcher), so the
# tests that kill servers with signals or run the tools through a shell stay on Linux. Each
# program links the library statically (ostrel_core) except the tests of the DLL itself, which
# load ostrel.dll.
# scripts/windows-tests.sh reads the list the build writes (windows-tests.txt).
# An entry "name:filter" runs the program with --gtest_filter=filter: the few tests that need the
# embedded server, drive the ostrel tool through a POSIX shell, or make symbolic links in the
# server's folder (the server's refusals are the same whoever asks) stay on Linux.
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
set(OSTREL_WINDOWS_INTEGRATION_TESTS
  "integration/connection:-ConnectionTest.RedundantPairFailsOverToTheSecondAddressAndListenersHear:ConnectionTest.SettingsFileStaysWellFormedWhenTheWriterIsKilled"
  integration/datapoints integration/events integration/ports
  "integration/snapshots:-SnapshotsTool.*:SnapshotReaders.*:*DamagedFilesAndNamesOutsideTheFolder*"
  integration/contention)
set(OSTREL_WINDOWS_DLL_TESTS windows/exports windows/dll_load)
# An application of the DLL through its import library, against tarnd.
set(OSTREL_WINDOWS_CLIENT_TESTS windows/dll_client)

add_library(ostrel_test_support STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/support/tarn_fixture.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/each_server.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/contenders.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/support/tool_runner.cc)
target_link_libraries(ostrel_test_support PUBLIC ostrel_core kxtarn GTest::gtest GTest::gmock)
target_include_directories(ostrel_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(ostrel_test_support PUBLIC OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

set(list_file ${PROJECT_BINARY_DIR}/windows-tests.txt)
file(WRITE ${list_file} "")
function(ostrel_windows_test entry label)
  string(REGEX REPLACE ":.*" "" name "${entry}")
  set(filter "")
  if(entry MATCHES ":(.*)$")
    set(filter " ${CMAKE_MATCH_1}")
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
  endif()
  file(APPEND ${list_file} "${label} ${target}.exe${filter}\n")
endfunction()

foreach(name ${OSTREL_WINDOWS_UNIT_TESTS})
  ostrel_windows_test(${name} unit)
endforeach()
foreach(name ${OSTREL_WINDOWS_SERVER_TESTS})
  ostrel_windows_test(${name} server)
endforeach()
foreach(name ${OSTREL_WINDOWS_INTEGRATION_TESTS})
  ostrel_windows_test(${name} integration)
endforeach()
foreach(name ${OSTREL_WINDOWS_DLL_TESTS})
  ostrel_windows_test(${name} dll)
endforeach()
foreach(name ${OSTREL_WINDOWS_CLIENT_TESTS})
  ostrel_windows_test(${name} client)
endforeach()
