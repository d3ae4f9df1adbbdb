# Real legacy SOAP clients (suds, zeep, PHP's SoapClient, mono's ASMX client)
# read the WSDL from a running web server and call through it, record by record.
add_test(NAME e2e_clients
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/clients_e2e.py --binary $<TARGET_FILE:VEVUDE>)
set_tests_properties(e2e_clients PROPERTIES TIMEOUT 600
  ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
