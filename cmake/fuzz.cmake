# libFuzzer targets. They need clang, while the normal host build uses g++, so scripts/fuzz.sh
# builds them in a tree of their own with PANELUP_FUZZ=ON; the normal build runs its bounded pass
# as a test.
option(PANELUP_FUZZ "Build the libFuzzer targets (clang++ host compiler only)" OFF)

if(PANELUP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PANELUP_FUZZ needs clang++ as the host compiler")
  endif()
  set(fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  # Coverage guides the fuzzer through the tool; the simulated platform only needs the sanitizers
  # (its per-byte flash work would otherwise dominate each run).
  target_compile_options(panelup_host_tool PRIVATE -fsanitize=fuzzer-no-link ${fuzz_sanitizers})
  target_compile_options(panelup_sim PRIVATE ${fuzz_sanitizers})
  foreach(name arguments format)
    add_executable(${name}_fuzz ${PROJECT_SOURCE_DIR}/tests/fuzz/${name}_fuzz.cpp)
    target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer ${fuzz_sanitizers}
      ${PANELUP_WARNINGS})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name}_fuzz PRIVATE panelup_sim)
  endforeach()
  # panelupctl's readers of machine input, one target each (tests/fuzz/readers_fuzz.cpp).
  set(reader 0)
  foreach(name record schedule load_option image catalogue)
    math(EXPR reader "${reader} + 1")
    add_executable(${name}_fuzz ${PROJECT_SOURCE_DIR}/tests/fuzz/readers_fuzz.cpp
      ${PANELUPCTL_PURE_SOURCES} ${PANELUP_FORMAT_SOURCES})
    target_compile_definitions(${name}_fuzz PRIVATE READER=${reader})
    target_include_directories(${name}_fuzz PRIVATE ${PROJECT_SOURCE_DIR}
      ${PROJECT_SOURCE_DIR}/os/src)
    target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer ${fuzz_sanitizers}
      ${PANELUP_WARNINGS})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
else()
  add_test(NAME fuzz_short
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fuzz.sh short ${CMAKE_BINARY_DIR}/fuzz)
  set_tests_properties(fuzz_short PROPERTIES LABELS fuzz TIMEOUT 1200)
endif()
