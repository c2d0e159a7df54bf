# Every answer parser and classifier of both command sets, the codec's readers and the number reader.
kest_add_fuzzer(fuzz_protocol ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_protocol.cpp kest_protocol)
