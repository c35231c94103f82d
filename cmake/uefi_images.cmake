# UEFI images: the tool, and the simulated chip driver and its control app for the emulator.
set(PANELUP_WARNINGS -Wall -Wextra -Werror)
# Optimised for size: the tool's time goes to the bus and the mandated waits (its own CPU time
# is a few ns per transaction), so -O2's speed buys nothing, while -Os keeps the image small.
# Set here, not through the build type, so every configure of this tree gets it.
set(PANELUP_EFI_OPTIMISE -Os)
set(PANELUP_EFI_LINK "/nodefaultlib /machine:x64 /Brepro /debug:none /opt:ref")

# add_efi_image(NAME SUBSYSTEM ENTRY SOURCES...): one UEFI image, NAME.efi.
function(add_efi_image name subsystem entry)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PANELUP_WARNINGS} ${PANELUP_EFI_OPTIMISE})
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX SUFFIX .efi
    LINK_FLAGS "/subsystem:${subsystem} /entry:${entry} ${PANELUP_EFI_LINK}")
endfunction()

# The tool's sources, compiled once for the firmware. Panelup.efi is all of them; the emulator's
# images link the same objects as an archive, so they take only what they call (console, CMOS,
# arguments, the service wrappers).
add_library(panelup_uefi_tool OBJECT ${PANELUP_TOOL_SOURCES}
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp ${PROJECT_SOURCE_DIR}/platform/port_io_x86.cpp)
target_include_directories(panelup_uefi_tool PUBLIC ${PANELUP_TOOL_INCLUDES})
target_compile_definitions(panelup_uefi_tool PUBLIC ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_uefi_tool PRIVATE ${PANELUP_WARNINGS} ${PANELUP_EFI_OPTIMISE})
add_library(panelup_uefi_tool_archive STATIC $<TARGET_OBJECTS:panelup_uefi_tool>)

add_efi_image(Panelup efi_application EfiMain $<TARGET_OBJECTS:panelup_uefi_tool>)
# The build mark stays in the image though no code reads it (/opt:ref would drop it).
set_property(TARGET Panelup APPEND_STRING PROPERTY LINK_FLAGS " /include:kPanelupBuildMark")

include(${CMAKE_CURRENT_LIST_DIR}/sim_images.cmake)
