# The fault sweep: whole /f updates on the simulated platform with one bus fault each, every run
# judged (tests/sweep). Each test case runs one target and fault kind (or a slice of its indices),
# prints its own summary and fails on any broken rule. The quick tier (label sweep) runs in the
# test suite; the full tier (label sweep-full: every index of every kind) is only defined in a
# tree configured with PANELUP_SWEEP_FULL, which `make sweep` (scripts/sweep.sh) makes.
#
# The sweep compiles the tool and the simulated platform again for itself with optimisation: about
# three times faster than the unoptimised panelup_host_tool and panelup_sim the host tests link.
# Here it keeps the sanitizers; the full sweep's tree is built without them.
option(PANELUP_SWEEP_FULL "Define the full fault sweep's test cases (label sweep-full)" OFF)
set(PANELUP_SWEEP_SOURCES sweep_run.cpp sweep_rules.cpp sweep_tally.cpp)
list(TRANSFORM PANELUP_SWEEP_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/tests/sweep/)
add_executable(panelup_fault_sweep ${PROJECT_SOURCE_DIR}/tests/sweep/fault_sweep.cpp
  ${PANELUP_SWEEP_SOURCES} ${PANELUP_HOST_TOOL_SOURCES} ${PANELUP_SIM_SOURCES})
target_include_directories(panelup_fault_sweep PRIVATE ${PANELUP_TOOL_INCLUDES}
  ${PROJECT_SOURCE_DIR})
target_compile_definitions(panelup_fault_sweep PRIVATE ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_fault_sweep PRIVATE ${PANELUP_WARNINGS} -O2)
add_dependencies(panelup_fault_sweep build_id)

# The sweep's own rules, phase map and choice of runs.
add_executable(panelup_sweep_tests ${PROJECT_SOURCE_DIR}/tests/sweep/sweep_rules_test.cpp
  ${PANELUP_SWEEP_SOURCES})
target_compile_options(panelup_sweep_tests PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_sweep_tests PRIVATE panelup_sim GTest::gtest_main)
gtest_discover_tests(panelup_sweep_tests PROPERTIES LABELS sweep DISCOVERY_TIMEOUT 60)

# One case: sweep_2_6_fail-from, sweep_full_1_3_flip-read, sweep_2_6_ignore-write_0 (a slice).
# COST puts the long cases first, so ctest -j keeps every core busy to the end.
function(panelup_sweep_case label target kind selection cost)
  string(REPLACE - _ prefix ${label})
  string(REPLACE : _ where ${target})
  set(name ${prefix}_${where}_${kind})
  if(ARGC GREATER 5)
    string(REGEX REPLACE "/.*" "" slice ${ARGV5})
    string(APPEND name _${slice})
  endif()
  add_test(NAME ${name} COMMAND panelup_fault_sweep ${target} ${kind} ${selection} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS ${label} COST ${cost} TIMEOUT 3600)
endfunction()

# Quick tier: every index for the ignored write on /f 2 6 (in two slices), a seeded sample for
# the rest. The ignored write is the fault most likely to hide: the chip drops it, the bus reports
# nothing, and it can leave the flash controller (address, mode, latch, FIFO) in a state where a
# wrong page goes in or the read-back reads the wrong place. A failed bus is seen at once and a
# bad read can only mislead the compare; a failed write has the same effect on the chip as an
# ignored one, so this tier covers those too. An unattended run tried again makes up to three
# attempts, so its sample is smaller. The full tier runs every index of every kind; each kind
# comes with the rough run time of its full case, relative to the others.
foreach(target 2:6 1:3)
  foreach(kind_cost fail-from:7 fail-once:6 flip-read:1 ignore-write:2 cut-and-retry:7
      cut-lost-retry:6 write-back-lost-retry:1 unattended-retry:12 alternate-phase:1
      alternate-phase-own-backup:1 alternate-phase-other-backup:1 budget-in-attempt:4)
    string(REPLACE : ";" kind_cost ${kind_cost})
    list(GET kind_cost 0 kind)
    list(GET kind_cost 1 cost)
    if(kind STREQUAL write-back-lost-retry OR kind MATCHES "^alternate-phase")
      # Only the key write-back's 478 transactions, or two starts in each phase: cheap enough to
      # run whole in the quick tier.
      panelup_sweep_case(sweep ${target} ${kind} all 10)
    elseif(kind STREQUAL budget-in-attempt)
      # Nine attempts a run, most of them to the end: a sample even in the full tier.
      panelup_sweep_case(sweep ${target} ${kind} 40@7911 10)
      if(PANELUP_SWEEP_FULL)
        panelup_sweep_case(sweep-full ${target} ${kind} 3000@7911 ${cost})
      endif()
      continue()
    elseif(target STREQUAL 2:6 AND kind STREQUAL ignore-write)
      panelup_sweep_case(sweep ${target} ${kind} all 100 0/2)
      panelup_sweep_case(sweep ${target} ${kind} all 100 1/2)
    elseif(kind STREQUAL unattended-retry)
      panelup_sweep_case(sweep ${target} ${kind} 100@7911 10)
    else()
      panelup_sweep_case(sweep ${target} ${kind} 300@7911 10)
    endif()
    if(PANELUP_SWEEP_FULL)
      panelup_sweep_case(sweep-full ${target} ${kind} all ${cost})
    endif()
  endforeach()
endforeach()

# A count that is not a number is refused, not read as 0 or as its leading digits.
add_test(NAME sweep_rejects_bad_count COMMAND panelup_fault_sweep 2:6 fail-once 3x@7911)
set_tests_properties(sweep_rejects_bad_count PROPERTIES LABELS sweep
  PASS_REGULAR_EXPRESSION "usage: panelup_fault_sweep")
