# The SOAP endpoint end to end: lighttpd runs the program as a CGI, real SOAP
# clients (zeep, suds, a raw HTTP client) call it, and the relay behind it
# calls the spyne upstream of the relay tests. All peers on loopback ports.
add_test(NAME e2e_endpoint
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/endpoint_e2e.py
          --binary $<TARGET_FILE:VEVUDE>)
set_tests_properties(e2e_endpoint PROPERTIES TIMEOUT 300
  ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
