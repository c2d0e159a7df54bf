# kest-sim: the slave-side framer and both devices' request handlers.
if(TARGET kest_sim)
  kest_add_fuzzer(fuzz_sim ${CMAKE_CURRENT_LIST_DIR}/fuzz_sim.cpp kest_sim)
endif()
