# Measurements (tests/bench): every catalogue entry flashed on the simulated platform, its bus
# transactions against the register protocol's floor, modelled duration, host CPU per
# transaction (Google Benchmark) and the footprint of Panelup.efi. scripts/bench.sh runs it from
# an unsanitised Release tree of its own; the count check runs in every tree's tests.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  set(PANELUP_BENCH_DIR ${PROJECT_SOURCE_DIR}/tests/bench)
  add_executable(panelup_bench ${PANELUP_BENCH_DIR}/bench_main.cpp
    ${PANELUP_BENCH_DIR}/cpu_cost.cpp ${PANELUP_BENCH_DIR}/floor.cpp
    ${PANELUP_BENCH_DIR}/pe_image.cpp ${PANELUP_BENCH_DIR}/report.cpp
    ${PANELUP_BENCH_DIR}/run_measure.cpp)
  target_compile_options(panelup_bench PRIVATE ${PANELUP_WARNINGS})
  target_link_libraries(panelup_bench PRIVATE panelup_sim benchmark::benchmark)

  # Every entry's /f makes exactly the transactions the protocol needs; no timing is asserted.
  add_test(NAME bench_counts COMMAND panelup_bench --check)
  set_tests_properties(bench_counts PROPERTIES LABELS bench TIMEOUT 300)

  add_executable(panelup_bench_tests ${PANELUP_BENCH_DIR}/bench_parts_test.cpp
    ${PANELUP_BENCH_DIR}/floor.cpp ${PANELUP_BENCH_DIR}/pe_image.cpp)
  target_compile_options(panelup_bench_tests PRIVATE ${PANELUP_WARNINGS})
  target_include_directories(panelup_bench_tests PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(panelup_bench_tests PRIVATE GTest::gtest_main)
  gtest_discover_tests(panelup_bench_tests PROPERTIES LABELS bench DISCOVERY_TIMEOUT 60)
else()
  message(STATUS "Google Benchmark not found (libbenchmark-dev): no bench targets")
endif()
