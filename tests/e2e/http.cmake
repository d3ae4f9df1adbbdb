# The HTTP client and its libcurl binding against real loopback peers: a
# Python HTTP/HTTPS server, openssl-made certificates and tinyproxy, all
# started and stopped by http_peer.py around the test program.
add_executable(test_http_e2e ${CMAKE_CURRENT_LIST_DIR}/http_loopback_test.cpp)
target_link_libraries(test_http_e2e PRIVATE vv_soap_client GTest::gtest_main)
add_test(NAME http_e2e
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/http_peer.py $<TARGET_FILE:test_http_e2e>)
set_tests_properties(http_e2e PROPERTIES TIMEOUT 900)
# Start-up must not pay for libcurl: the program loads it when it first calls upstream.
add_test(NAME http_executable_does_not_link_libcurl
         COMMAND sh -c "! ldd '$<TARGET_FILE:VEVUDE>' | grep -q libcurl")
