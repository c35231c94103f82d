# Host build: the tool's code against the simulated platform, the tests, and the UEFI images
# through a nested cross build.
include(ExternalProject)
enable_testing()

set(PANELUP_WARNINGS -Wall -Wextra -Werror)

# The host tests run under AddressSanitizer and UndefinedBehaviorSanitizer; any report fails them.
option(PANELUP_SANITIZE "Build the host code with ASan and UBSan" ON)
if(PANELUP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The tool as the host tests run it: its sources, with port I/O going to the simulated platform
# (sim/host/port_io_host.cpp reaches it through a hook, so the tool links nothing of it).
set(PANELUP_HOST_TOOL_SOURCES ${PANELUP_TOOL_SOURCES}
  ${PROJECT_SOURCE_DIR}/sim/host/port_io_host.cpp)
add_library(panelup_host_tool STATIC ${PANELUP_HOST_TOOL_SOURCES})
target_include_directories(panelup_host_tool PUBLIC ${PANELUP_TOOL_INCLUDES})
target_compile_definitions(panelup_host_tool PUBLIC ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_host_tool PRIVATE ${PANELUP_WARNINGS})
add_custom_target(build_id ALL COMMAND ${PANELUP_BUILD_ID_COMMAND}
  BYPRODUCTS ${PANELUP_GENERATED_DIR}/panelup_build_id.h ${PANELUP_GENERATED_DIR}/build-id.txt)
add_dependencies(panelup_host_tool build_id)

# Builds that only need host code (the fuzz tree) can skip the nested cross build.
option(PANELUP_UEFI_IMAGES "Build the UEFI images through the nested cross build" ON)
if(PANELUP_UEFI_IMAGES)
ExternalProject_Add(uefi_images
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/uefi
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/efi-toolchain.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DPANELUP_UEFI_BUILD=ON
    -DPANELUP_ACCESS_CODE=${PANELUP_ACCESS_CODE}
    -DPANELUP_GENERATED_DIR=${PANELUP_GENERATED_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)
add_dependencies(uefi_images build_id)
endif()
set(PANELUP_EFI_DIR ${CMAKE_BINARY_DIR}/uefi)

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
  format_test.cpp
  key_custody_test.cpp
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
  ${PROJECT_SOURCE_DIR}/tests/sweep/sweep_run.cpp)
target_compile_options(panelup_host_tests PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(panelup_host_tests PRIVATE panelup_sim GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(panelup_host_tests PROPERTIES LABELS host DISCOVERY_TIMEOUT 60)

# Say it at every build, not only at configure time, while test patterns stand in for images.
if(PANELUP_IMAGE_WARNING)
  add_custom_target(image_warning ALL COMMAND ${CMAKE_COMMAND} -E echo "${PANELUP_IMAGE_WARNING}")
endif()

# The backup a chip without a key area needs, for the operator to load with dmpstore -l.
add_executable(blank_key_backup ${PROJECT_SOURCE_DIR}/scripts/blank_key_backup.cpp
  ${PROJECT_SOURCE_DIR}/catalogue/crc32.cpp)
target_include_directories(blank_key_backup PRIVATE ${PANELUP_TOOL_INCLUDES})
target_compile_options(blank_key_backup PRIVATE ${PANELUP_WARNINGS})
set(PANELUP_BLANK_KEY_FILE ${CMAKE_BINARY_DIR}/blank-key-area.bin)
add_custom_command(OUTPUT ${PANELUP_BLANK_KEY_FILE}
  COMMAND blank_key_backup ${PANELUP_BLANK_KEY_FILE} DEPENDS blank_key_backup)
add_custom_target(blank_key_area ALL DEPENDS ${PANELUP_BLANK_KEY_FILE})

# The catalogue as text beside Panelup.efi (scripts/catalogue_text.cpp), from the table the tool
# is compiled from; panelupctl checks a CID/PID pair against it. Building the UEFI images brings
# it up to date too, so the emulator tiers never stage an image beside a stale one.
add_executable(catalogue_text ${PROJECT_SOURCE_DIR}/scripts/catalogue_text.cpp)
target_compile_options(catalogue_text PRIVATE ${PANELUP_WARNINGS})
target_link_libraries(catalogue_text PRIVATE panelup_host_tool)
set(PANELUP_CATALOGUE_FILE ${PANELUP_EFI_DIR}/panelup-catalogue.txt)
add_custom_command(OUTPUT ${PANELUP_CATALOGUE_FILE}
  COMMAND catalogue_text ${PANELUP_CATALOGUE_FILE} DEPENDS catalogue_text)
add_custom_target(catalogue_file ALL DEPENDS ${PANELUP_CATALOGUE_FILE})
if(TARGET uefi_images)
  add_dependencies(uefi_images catalogue_file)
endif()

# panelupctl as installed: the script with the tree's VERSION written in (run from scripts/, it
# reads the file itself).
file(READ ${PROJECT_SOURCE_DIR}/VERSION panelup_version)
string(STRIP "${panelup_version}" panelup_version)
file(READ ${PROJECT_SOURCE_DIR}/scripts/panelupctl panelupctl_text)
string(REPLACE "@PANELUP_VERSION@" "${panelup_version}" panelupctl_text "${panelupctl_text}")
set(old_text "")
if(EXISTS ${CMAKE_BINARY_DIR}/panelupctl)
  file(READ ${CMAKE_BINARY_DIR}/panelupctl old_text)
endif()
if(NOT old_text STREQUAL panelupctl_text)
  file(WRITE ${CMAKE_BINARY_DIR}/panelupctl "${panelupctl_text}")
endif()
file(CHMOD ${CMAKE_BINARY_DIR}/panelupctl FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/scripts/panelupctl)

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
            ${CMAKE_BINARY_DIR}/linux-tests ${CMAKE_BINARY_DIR}/linux-cache)
  set_tests_properties(linux_roundtrip PROPERTIES LABELS linux
    FIXTURES_REQUIRED emulator_images TIMEOUT 600)
  # panelupctl on a stand-in machine (folders for efivarfs and the ESP, a stub efibootmgr),
  # staging the build's image with its catalogue: hostile records, refusals, efibootmgr failing.
  add_test(NAME panelupctl
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/panelupctl/panelupctl_test.sh ${PANELUP_EFI_DIR}
            ${CMAKE_BINARY_DIR}/panelupctl-tests)
  set_tests_properties(panelupctl PROPERTIES LABELS panelupctl
    FIXTURES_REQUIRED emulator_images TIMEOUT 300)
endif()
