# vastrel_hosts_library(NAME UPDATE_HOST MAKER_HOST CHECKIP_HOST): the server
# table compiled for the given hosts. The program uses the cache values; the
# tests a copy whose hosts resolve to loopback.
function(vastrel_hosts_library name update_host maker_host checkip_host)
  set(VASTREL_UPDATE_HOST "${update_host}")
  set(VASTREL_MAKER_HOST "${maker_host}")
  set(VASTREL_CHECKIP_HOST "${checkip_host}")
  list(LENGTH VASTREL_DOMAINS count)
  if(NOT count EQUAL 10)
    message(FATAL_ERROR "VASTREL_DOMAINS must name exactly ten domains, not ${count}")
  endif()
  list(TRANSFORM VASTREL_DOMAINS PREPEND "\"" OUTPUT_VARIABLE quoted)
  list(TRANSFORM quoted APPEND "\"")
  list(JOIN quoted ", " VASTREL_DOMAIN_LIST)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  configure_file(${PROJECT_SOURCE_DIR}/src/model/server_hosts.h.in ${dir}/server_hosts.h @ONLY)
  add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/src/model/server_table.cpp)
  target_include_directories(${name} PRIVATE ${dir} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
