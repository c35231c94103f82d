# The fault sweep: whole /f updates on the simulated platform with one bus fault each, every run
# judged (tests/sweep). The quick tier below runs in the test suite as two shards and a combined
# summary; `make sweep` runs every index of every kind (scripts/sweep.sh).
#
# The sweep compiles the tool and the simulated platform again for itself with optimisation: about
# three times faster than the unoptimised panelup_host_tool and panelup_sim the host tests link.
# Here it keeps the sanitizers; the full sweep (scripts/sweep.sh) builds it in a tree without them.
set(PANELUP_SWEEP_SOURCES sweep_run.cpp sweep_rules.cpp sweep_tally.cpp)
list(TRANSFORM PANELUP_SWEEP_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/tests/sweep/)
add_executable(panelup_fault_sweep ${PROJECT_SOURCE_DIR}/tests/sweep/fault_sweep.cpp
  ${PANELUP_SWEEP_SOURCES} ${PANELUP_HOST_TOOL_SOURCES} ${PANELUP_SIM_SOURCES})
target_include_directories(panelup_fault_sweep PRIVATE ${PANELUP_TOOL_INCLUDES}
  ${PROJECT_SOURCE_DIR})
target_compile_definitions(panelup_fault_sweep PRIVATE ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_fault_sweep PRIVATE ${PANELUP_WARNINGS} -O2)

# The sweep's own rules, phase map and shard reports.
add_executable(panelup_sweep_tests ${PROJECT_SOURCE_DIR}/tests/sweep/sweep_rules_test.cpp
  ${PANELUP_SWEEP_SOURCES})
target_compile_options(panelup_sweep_tests PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_sweep_tests PRIVATE panelup_sim GTest::gtest_main)
gtest_discover_tests(panelup_sweep_tests PROPERTIES LABELS sweep DISCOVERY_TIMEOUT 60)

# Quick tier: every index for the ignored write on /f 2 6, a seeded sample for the rest. The
# ignored write is the fault most likely to hide: the chip drops it, the bus reports nothing, and
# it can leave the flash controller (address, mode, latch, FIFO) in a state where a wrong page
# goes in or the read-back reads the wrong place. A failed bus is seen at once and a bad read can
# only mislead the compare; a failed write has the same effect on the chip as an ignored one, so
# this tier covers those too.
set(PANELUP_SWEEP_DIR ${CMAKE_BINARY_DIR}/sweep)
file(MAKE_DIRECTORY ${PANELUP_SWEEP_DIR})
set(PANELUP_SWEEP_QUICK --sample 300 --seed 7911 --every ignore-write@2:6)
set(PANELUP_SWEEP_REPORTS)
foreach(shard 0 1)
  set(report ${PANELUP_SWEEP_DIR}/quick-${shard}.report)
  list(APPEND PANELUP_SWEEP_REPORTS ${report})
  add_test(NAME sweep_quick_${shard}
    COMMAND panelup_fault_sweep ${PANELUP_SWEEP_QUICK} --shard ${shard}/2 --report ${report})
  set_tests_properties(sweep_quick_${shard} PROPERTIES LABELS sweep
    FIXTURES_SETUP sweep_quick TIMEOUT 1200)
endforeach()
add_test(NAME sweep_quick_summary
  COMMAND panelup_fault_sweep --combine ${PANELUP_SWEEP_REPORTS})
set_tests_properties(sweep_quick_summary PROPERTIES LABELS sweep FIXTURES_REQUIRED sweep_quick)

# A count that is not a number is refused, not read as 0 or as its leading digits.
add_test(NAME sweep_rejects_bad_count COMMAND panelup_fault_sweep --sample 3x)
set_tests_properties(sweep_rejects_bad_count PROPERTIES LABELS sweep
  PASS_REGULAR_EXPRESSION "bad option: --sample 3x")
