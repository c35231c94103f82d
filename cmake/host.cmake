# Host build: the tool's code against the simulated platform, the tests, and the UEFI images
# through a nested cross build.
include(ExternalProject)
enable_testing()

set(PANELUP_WARNINGS -Wall -Wextra -Werror)

add_library(panelup_host_tool STATIC ${PANELUP_TOOL_SOURCES})
target_include_directories(panelup_host_tool PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(panelup_host_tool PUBLIC ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_host_tool PRIVATE ${PANELUP_WARNINGS})

ExternalProject_Add(firmware
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/firmware
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/efi-toolchain.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DPANELUP_FIRMWARE=ON
    -DPANELUP_ACCESS_CODE=${PANELUP_ACCESS_CODE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)
set(PANELUP_EFI_DIR ${CMAKE_BINARY_DIR}/firmware)
