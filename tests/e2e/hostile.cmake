# Hostile input through the program as a CGI process: hostile upstream
# answers from a local server, hostile config.ini and port files. Each row
# checks the answer, the exit status, the time and (outside the sanitizer
# build) the peak resident set.
if(VEVUDE_SANITIZE)
  set(hostile_flags --sanitized)
endif()
add_test(NAME e2e_hostile
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/hostile_e2e.py
          --vevude $<TARGET_FILE:VEVUDE> ${hostile_flags})
set_tests_properties(e2e_hostile PROPERTIES TIMEOUT 600
  ENVIRONMENT "VEVUDE_UPSTREAM_NAMESPACE=${VEVUDE_UPSTREAM_NAMESPACE}")
