# The test tiers: host tests against the simulated platform, build checks, the sweep, fuzzing,
# benchmarks and the emulator tiers.

# The simulated platform: the chip model and bus (also built into SimChip.efi) and the host
# firmware and ports; it runs the tool's entry, so it links the tool, never the other way round.
find_package(GTest REQUIRED)
set(PANELUP_SIM_SOURCES ${PANELUP_SIM_MODEL_SOURCES}
  sim/host/host_boot_services.cpp
  sim/host/host_console.cpp
  sim/host/host_platform.cpp
  sim/host/host_ports.cpp
  sim/host/host_queries.cpp
  sim/host/host_runtime_services.cpp
  sim/host/text.cpp)
list(TRANSFORM PANELUP_SIM_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ REGEX "^sim/host/")
add_library(panelup_sim STATIC ${PANELUP_SIM_SOURCES})
target_include_directories(panelup_sim PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(panelup_sim PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_sim PUBLIC panelup_host_tool)

set(PANELUP_HOST_TEST_SOURCES
  catalogue_test.cpp
  chip_flash_test.cpp
  chip_registers_test.cpp
  command_sequence_test.cpp
  dispatch_test.cpp
  event_text.cpp
  event_text_test.cpp
  files_test.cpp
  format_test.cpp
  formats_test.cpp
  image_check_test.cpp
  key_custody_test.cpp
  load_option_test.cpp
  operands_test.cpp
  result_record_test.cpp
  sim_bus_test.cpp
  sim_chip_test.cpp
  sim_flash_controller_test.cpp
  sim_host_platform_test.cpp
  unattended_test.cpp
  update_sequence_test.cpp
  update_test.cpp)
list(TRANSFORM PANELUP_HOST_TEST_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/tests/host/)
# Tests that fault one phase of /f 2 6 find its transactions as the sweep learns them.
add_executable(panelup_host_tests ${PANELUP_HOST_TEST_SOURCES}
  ${PROJECT_SOURCE_DIR}/tests/sweep/sweep_run.cpp ${PANELUPCTL_PURE_SOURCES}
  ${PROJECT_SOURCE_DIR}/os/src/files.cpp)
target_include_directories(panelup_host_tests PRIVATE ${PROJECT_SOURCE_DIR}/os/src)
target_compile_options(panelup_host_tests PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_host_tests PRIVATE panelup_sim GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(panelup_host_tests PROPERTIES LABELS host DISCOVERY_TIMEOUT 60)

# Scratch configures that must reject bad images and replace missing ones.
add_test(NAME image_checks
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/build/images_test.sh ${PROJECT_SOURCE_DIR}
          ${CMAKE_BINARY_DIR}/image-checks)
set_tests_properties(image_checks PROPERTIES LABELS build)

# Further test tiers and measurements, each in its own file.
include(${CMAKE_CURRENT_LIST_DIR}/sweep.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/fuzz.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/image_checks.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/bench.cmake)

# The Ansible collection: ansible-test sanity on a copy, offline, and one whole rollout on this
# machine against a fake panelupctl (tests/ansible).
add_test(NAME ansible_sanity
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/ansible/sanity_test.sh ${PANELUP_COLLECTION_SOURCE}
          ${CMAKE_BINARY_DIR}/ansible-tests/sanity)
add_test(NAME ansible_rollout
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/ansible/rollout_test.sh ${PANELUP_COLLECTION_SOURCE}
          ${CMAKE_BINARY_DIR}/ansible-tests/rollout)
set_tests_properties(ansible_sanity ansible_rollout PROPERTIES LABELS ansible TIMEOUT 300)

# The Debian package the Linux round trip and the package tier install from (make deb).
set(PANELUP_DEB ${CMAKE_BINARY_DIR}/panelup_${panelup_version}_amd64.deb)

# Emulator tests: the three UEFI images in QEMU with OVMF. The setup test brings the images up to
# date first, so a ctest run on its own never boots stale ones.
if(TARGET uefi_images)
  add_test(NAME emulator_images
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target uefi_images)
  set_tests_properties(emulator_images PROPERTIES LABELS emulator FIXTURES_SETUP emulator_images)
  add_test(NAME emulator_cases
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/emulator/emulator_cases.sh ${PANELUP_EFI_DIR}
            ${CMAKE_BINARY_DIR}/emulator-tests ${CMAKE_BINARY_DIR})
  set_tests_properties(emulator_cases PROPERTIES LABELS emulator
    FIXTURES_REQUIRED emulator_images TIMEOUT 600)
  # The recovery stick booted as the machine's disk: flashes once, retries after a failure.
  add_test(NAME emulator_stick
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/emulator/stick_test.sh ${PANELUP_EFI_DIR}
            ${CMAKE_BINARY_DIR}/stick-tests)
  set_tests_properties(emulator_stick PROPERTIES LABELS emulator
    FIXTURES_REQUIRED emulator_images TIMEOUT 600)
  # panelupctl from a running Linux on the emulated machine: schedule, reboot into Panelup.efi,
  # back into Linux for the result; the kernel package is unpacked once into linux-cache.
  add_test(NAME linux_roundtrip
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/emulator/linux_roundtrip_test.sh ${PANELUP_EFI_DIR}
            ${PANELUP_DEB} ${CMAKE_BINARY_DIR}/linux-tests ${CMAKE_BINARY_DIR}/linux-cache)
  set_tests_properties(linux_roundtrip PROPERTIES LABELS linux
    FIXTURES_REQUIRED "emulator_images;package" TIMEOUT 1200)
  # panelupctl inventory on the kernel's own i2c drivers: Debian's generic kernel on q35, its
  # SMBus controller and i2c-stub as the bridge; the kernel package is unpacked into linux-cache.
  add_test(NAME linux_inventory
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/emulator/linux_inventory_test.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/linux-inventory ${CMAKE_BINARY_DIR}/linux-cache)
  set_tests_properties(linux_inventory PROPERTIES LABELS linux
    FIXTURES_REQUIRED emulator_images TIMEOUT 600)
  # A real Ansible rollout (the tree's panelup.fleet collection) over SSH to two emulated machines
  # running the package's panelupctl: rollouts 1 and 2 on one pair, the failing canary on a new
  # pair. One at a time: each keeps two QEMU processes busy.
  foreach(scenario rollouts canary)
    add_test(NAME fleet_${scenario}
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/ansible/fleet_test.sh ${PANELUP_EFI_DIR}
              ${PANELUP_DEB} ${PROJECT_SOURCE_DIR}/os/ansible ${CMAKE_BINARY_DIR}/fleet-tests/${scenario}
              ${CMAKE_BINARY_DIR}/linux-cache ${scenario})
    set_tests_properties(fleet_${scenario} PROPERTIES LABELS ansible
      FIXTURES_REQUIRED "emulator_images;package" RESOURCE_LOCK fleet TIMEOUT 600)
  endforeach()
  # panelupctl on a stand-in machine (folders for efivarfs, two ESPs and its state; the real
  # efibootmgr reads the same folder), staging the build's image with its catalogue.
  add_test(NAME panelupctl
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/panelupctl/panelupctl_test.sh ${PANELUP_EFI_DIR}
            ${CMAKE_BINARY_DIR}/panelupctl-tests)
  set_tests_properties(panelupctl PROPERTIES LABELS panelupctl
    FIXTURES_REQUIRED emulator_images TIMEOUT 300)
endif()

# The Debian package (make deb), built once for the tiers that install from it: the package tier
# and the Linux round trip.
if(TARGET uefi_images)
  add_test(NAME package_build COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/make-deb.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_build PROPERTIES LABELS package FIXTURES_SETUP package
    FIXTURES_REQUIRED emulator_images TIMEOUT 600)
  add_test(NAME package
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/package_test.sh ${PANELUP_DEB}
            ${CMAKE_BINARY_DIR}/package-tests ${CMAKE_BINARY_DIR}/package-cache)
  set_tests_properties(package PROPERTIES LABELS package FIXTURES_REQUIRED package TIMEOUT 900
    SKIP_RETURN_CODE 77)
endif()
