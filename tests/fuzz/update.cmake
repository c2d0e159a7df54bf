# Update check: the page scanner and the version comparison (Qt Core only).
if(TARGET kest_update_scan)
  kest_add_fuzzer(fuzz_update_page ${CMAKE_CURRENT_LIST_DIR}/fuzz_update_page.cpp kest_update_scan)
endif()
