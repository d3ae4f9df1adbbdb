# The published service descriptions read by real SOAP clients (zeep and
# suds) through lighttpd, with the spyne upstream behind the relay.
add_test(NAME e2e_publish
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/publish_e2e.py --binary $<TARGET_FILE:VEVUDE>)
set_tests_properties(e2e_publish PROPERTIES TIMEOUT 300
  ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
