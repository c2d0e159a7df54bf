# Results journal: the decoders of what a journal file or server gives back (headers, reading sets,
# errors, cells, marks), Qt Core only.
if(TARGET kest_journal_codec)
  kest_add_fuzzer(fuzz_journal_codec ${CMAKE_CURRENT_LIST_DIR}/fuzz_journal_codec.cpp kest_journal_codec)
endif()
