# The deployment examples of deploy/ end to end: one test per (server, mode)
# row of web_servers.py, each starting its server once from the shipped
# example, with the spyne upstream behind the relay. The rows are read from
# the table itself, so adding a row there adds its test here.
execute_process(
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/deploy_e2e.py --list
  OUTPUT_VARIABLE deploy_rows OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/deploy_e2e.py ${CMAKE_CURRENT_LIST_DIR}/web_servers.py)
string(REPLACE "\n" ";" deploy_rows "${deploy_rows}")
foreach(row ${deploy_rows})
  add_test(NAME e2e_deploy_${row}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/deploy_e2e.py
            --binary $<TARGET_FILE:VEVUDE> ${row})
  set_tests_properties(e2e_deploy_${row} PROPERTIES TIMEOUT 300
    ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
endforeach()
