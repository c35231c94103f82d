# Emulator images, built beside Panelup.efi: SimChip.efi (the chip model behind an SMBus host
# controller protocol) and simctl.efi (sets up and inspects that model from the shell).
file(GLOB PANELUP_SIM_MODEL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/sim/*.cpp)

add_efi_image(SimChip efi_boot_service_driver SimChipEntry
  ${PROJECT_SOURCE_DIR}/sim/efi/simchip_driver.cpp
  ${PROJECT_SOURCE_DIR}/sim/efi/chip_store.cpp
  ${PANELUP_SIM_MODEL_SOURCES}
  ${PROJECT_SOURCE_DIR}/uefi/firmware.cpp
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp)

add_efi_image(simctl efi_application SimctlEntry
  ${PROJECT_SOURCE_DIR}/sim/efi/simctl.cpp
  ${PROJECT_SOURCE_DIR}/sim/efi/chip_store.cpp
  ${PANELUP_SIM_MODEL_SOURCES}
  ${PROJECT_SOURCE_DIR}/console/format.cpp
  ${PROJECT_SOURCE_DIR}/console/print.cpp
  ${PROJECT_SOURCE_DIR}/console/status_names.cpp
  ${PROJECT_SOURCE_DIR}/platform/cmos.cpp
  ${PROJECT_SOURCE_DIR}/platform/port_io_x86.cpp
  ${PROJECT_SOURCE_DIR}/uefi/arguments.cpp
  ${PROJECT_SOURCE_DIR}/uefi/firmware.cpp
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp)
