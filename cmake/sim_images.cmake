# Emulator images, built beside Panelup.efi: SimChip.efi (the chip model behind an SMBus host
# controller protocol) and simctl.efi (sets up and inspects that model from the shell). Both hold
# the chip model and its store, compiled once; the rest comes from the tool's archive.
add_library(panelup_uefi_sim OBJECT ${PANELUP_SIM_MODEL_SOURCES}
  ${PROJECT_SOURCE_DIR}/sim/efi/chip_store.cpp ${PROJECT_SOURCE_DIR}/sim/efi/command_words.cpp)
target_include_directories(panelup_uefi_sim PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(panelup_uefi_sim PRIVATE ${PANELUP_WARNINGS} ${PANELUP_EFI_OPTIMISE})

add_efi_image(SimChip efi_boot_service_driver SimChipEntry
  ${PROJECT_SOURCE_DIR}/sim/efi/simchip_driver.cpp $<TARGET_OBJECTS:panelup_uefi_sim>)
add_efi_image(simctl efi_application SimctlEntry
  ${PROJECT_SOURCE_DIR}/sim/efi/simctl.cpp ${PROJECT_SOURCE_DIR}/sim/efi/simctl_commands.cpp
  $<TARGET_OBJECTS:panelup_uefi_sim>)
foreach(image SimChip simctl)
  target_link_libraries(${image} PRIVATE panelup_uefi_tool_archive)
endforeach()
