# Report templates: package and XML reading, placeholder search, table insertion (both writers).
if(TARGET kest_report)
  kest_add_fuzzer(fuzz_report ${CMAKE_CURRENT_LIST_DIR}/fuzz_report.cpp kest_report)
endif()
