# The public headers, listed one by one: what an application may include. The Linux install
# (install.cmake) and the Windows package (windows_package.cmake) ship them under include/, with
# the two generated ones; the API reference (api_docs.cmake) reads them.
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

# Installs the public headers, the generated façade (ostrel/api/facade.h) and the generated
# remote interfaces (ostrel/api/middleware/tarn.hh) under include/.
function(ostrel_install_public_headers)
  foreach(header ${OSTREL_PUBLIC_HEADERS})
    get_filename_component(dir ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir})
  endforeach()
  install(FILES ${TARN_GENERATED_DIR}/tarn.hh DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel/api/middleware)
  install(FILES ${OSTREL_GENERATED_DIR}/ostrel/api/facade.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel/api)
endfunction()
