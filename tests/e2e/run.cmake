# scripts/run, the demonstration, started as a newcomer starts it (with the
# program already built) and stopped as Ctrl-C stops it.
add_test(NAME e2e_run
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/run_e2e.py --binary $<TARGET_FILE:VEVUDE>)
set_tests_properties(e2e_run PROPERTIES TIMEOUT 300)
