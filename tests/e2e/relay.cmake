# The relay against real peers: a spyne upstream (plain and TLS with a
# certificate made at test time) and tinyproxy, all on loopback free ports.
# relay_probe runs one relay call in the current directory's config.ini.
add_executable(relay_probe ${CMAKE_CURRENT_LIST_DIR}/relay_probe.cpp)
target_link_libraries(relay_probe PRIVATE vv_relay)

foreach(group Records Tls Proxy)
  add_test(NAME e2e_relay_${group}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/relay_e2e.py
            --probe $<TARGET_FILE:relay_probe> --vevude $<TARGET_FILE:VEVUDE> ${group})
  set_tests_properties(e2e_relay_${group} PROPERTIES TIMEOUT 300
    ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
endforeach()
