# Settings: the INI parser (with the 1251 fallback) and the list splitter.
kest_add_fuzzer(fuzz_ini_document ${CMAKE_CURRENT_LIST_DIR}/fuzz_ini_document.cpp kest_config)
kest_add_fuzzer(fuzz_settings_list ${CMAKE_CURRENT_LIST_DIR}/fuzz_settings_list.cpp kest_config)
