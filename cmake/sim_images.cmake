# Emulator images, built beside Panelup.efi: SimChip.efi (the chip model behind an SMBus host
# controller protocol) and simctl.efi (sets up and inspects that model from the shell).
file(GLOB PANELUP_SIM_MODEL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/sim/*.cpp)

add_executable(SimChip
  ${PROJECT_SOURCE_DIR}/sim/efi/simchip_driver.cpp
  ${PANELUP_SIM_MODEL_SOURCES}
  ${PROJECT_SOURCE_DIR}/uefi/firmware.cpp
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp)
target_include_directories(SimChip PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(SimChip PRIVATE ${PANELUP_WARNINGS})
set_target_properties(SimChip PROPERTIES LINKER_LANGUAGE CXX SUFFIX .efi
  LINK_FLAGS "/subsystem:efi_boot_service_driver /entry:SimChipEntry ${PANELUP_EFI_LINK}")

add_executable(simctl
  ${PROJECT_SOURCE_DIR}/sim/efi/simctl.cpp
  ${PANELUP_SIM_MODEL_SOURCES}
  ${PROJECT_SOURCE_DIR}/console/format.cpp
  ${PROJECT_SOURCE_DIR}/console/print.cpp
  ${PROJECT_SOURCE_DIR}/console/status_names.cpp
  ${PROJECT_SOURCE_DIR}/platform/cmos.cpp
  ${PROJECT_SOURCE_DIR}/platform/port_io_x86.cpp
  ${PROJECT_SOURCE_DIR}/uefi/arguments.cpp
  ${PROJECT_SOURCE_DIR}/uefi/firmware.cpp
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp)
target_include_directories(simctl PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(simctl PRIVATE ${PANELUP_WARNINGS})
set_target_properties(simctl PROPERTIES LINKER_LANGUAGE CXX SUFFIX .efi
  LINK_FLAGS "/subsystem:efi_application /entry:SimctlEntry ${PANELUP_EFI_LINK}")
