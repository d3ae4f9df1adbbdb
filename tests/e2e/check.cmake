# The operator's command line (--check, --help, --version) against the spyne
# upstream, plain and TLS; and that a web server's arguments are ignored.
add_test(NAME e2e_check
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_e2e.py --binary $<TARGET_FILE:VEVUDE>)
set_tests_properties(e2e_check PROPERTIES TIMEOUT 300
  ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
