# Control pictures: the JPEG decoder with its error manager (libjpeg only, no Qt).
if(TARGET kest_jpeg)
  kest_add_fuzzer(fuzz_jpeg ${CMAKE_CURRENT_LIST_DIR}/fuzz_jpeg.cpp kest_jpeg)
endif()
