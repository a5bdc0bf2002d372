# libFuzzer targets over the photo path (clang only): bench/fuzz.sh configures a tree of its own
# with ZENFO_FUZZ and ZENFO_SANITIZE and runs them.
if(ZENFO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZENFO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # The album code is instrumented for coverage so that the fuzzer can steer by it.
  target_compile_options(album PRIVATE -fsanitize=fuzzer-no-link)

  add_executable(fuzz_photo ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_photo.cpp)
  target_compile_options(fuzz_photo PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_photo PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_photo PRIVATE album)

  # Writes the seed corpus: copies made by the album's own encoder and hand-made variants.
  add_executable(fuzz_seeds ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_seeds.cpp)
  target_link_libraries(fuzz_seeds PRIVATE album JPEG::JPEG)
endif()
