# Verification: the CSV reader (tables and scenarios) and the scenario lists read from the settings.
if(TARGET kest_verification)
  kest_add_fuzzer(fuzz_csv_reader ${CMAKE_CURRENT_LIST_DIR}/fuzz_csv_reader.cpp kest_verification)
  kest_add_fuzzer(fuzz_scenario_lists ${CMAKE_CURRENT_LIST_DIR}/fuzz_scenario_lists.cpp kest_verification)
endif()
