# The bench's simulated half (tests/bench): every catalogue entry's /f on the simulated platform
# against the register protocol's floor, with modelled bus time, waits and pool use. Every tree's
# tests run it as bench_counts; scripts/bench.sh prints it with the footprint and emulator timing.
set(PANELUP_BENCH_DIR ${PROJECT_SOURCE_DIR}/tests/bench)
set(PANELUP_BENCH_SOURCES ${PANELUP_BENCH_DIR}/floor.cpp ${PANELUP_BENCH_DIR}/measure.cpp
  ${PANELUP_BENCH_DIR}/margin.cpp ${PROJECT_SOURCE_DIR}/tests/sweep/sweep_run.cpp)

add_executable(panelup_bench ${PANELUP_BENCH_DIR}/bench_main.cpp ${PANELUP_BENCH_SOURCES})
target_compile_options(panelup_bench PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_bench PRIVATE panelup_sim)
add_test(NAME bench_counts COMMAND panelup_bench)
set_tests_properties(bench_counts PROPERTIES LABELS bench TIMEOUT 300)

add_executable(panelup_bench_tests ${PANELUP_BENCH_DIR}/bench_test.cpp ${PANELUP_BENCH_SOURCES})
target_compile_options(panelup_bench_tests PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_bench_tests PRIVATE panelup_sim GTest::gtest_main)
gtest_discover_tests(panelup_bench_tests PROPERTIES LABELS bench DISCOVERY_TIMEOUT 60)
