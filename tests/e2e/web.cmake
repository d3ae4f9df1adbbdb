# The CGI front end as a real process: a test CGI program run with a given
# environment and standard input, and the same program behind lighttpd.
add_executable(web_test_cgi ${CMAKE_CURRENT_LIST_DIR}/web_test_cgi.cpp)
target_link_libraries(web_test_cgi PRIVATE vv_web)

find_program(VEVUDE_LIGHTTPD lighttpd PATHS /usr/sbin /usr/local/sbin)
add_executable(web_e2e ${CMAKE_CURRENT_LIST_DIR}/web_e2e_test.cpp)
target_link_libraries(web_e2e PRIVATE vv_web vv_test_run GTest::gtest_main)
target_compile_definitions(web_e2e PRIVATE
  WEB_TEST_CGI="$<TARGET_FILE:web_test_cgi>"
  LIGHTTPD_BINARY="${VEVUDE_LIGHTTPD}")
add_dependencies(web_e2e web_test_cgi)
gtest_discover_tests(web_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
