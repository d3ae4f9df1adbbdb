# Persistent mode end to end: the program as a FastCGI worker behind
# lighttpd's mod_fastcgi and nginx (the deploy/ files), and driven directly
# by a small FastCGI client, against the spyne upstream (also with kept
# connections) and tinyproxy.
foreach(group Slice Isolation Reuse Lifecycle Peers KeepAlive Restarts ScaleOut)
  add_test(NAME e2e_fastcgi_${group}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/fastcgi_e2e.py
            --vevude $<TARGET_FILE:VEVUDE> ${group})
  set_tests_properties(e2e_fastcgi_${group} PROPERTIES TIMEOUT 600
    ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
endforeach()
# A CGI start must not pay for the FastCGI library: a worker loads it.
add_test(NAME fastcgi_executable_does_not_link_libfcgi
         COMMAND sh -c "! ldd '$<TARGET_FILE:VEVUDE>' | grep -q libfcgi")
