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

# panelupctl, the OS side (os/src), and the shared formats it reads.
include(${CMAKE_CURRENT_LIST_DIR}/panelupctl.cmake)

# The Ansible collection for fleet rollouts with panelupctl (os/ansible).
include(${CMAKE_CURRENT_LIST_DIR}/ansible.cmake)

# The tests and measurements; a package build (debian/rules) needs none of them.
option(PANELUP_TESTS "Build the test tiers and benchmarks (they need GoogleTest)" ON)
if(PANELUP_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/tests.cmake)
endif()
