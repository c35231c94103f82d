# UEFI images: the tool, and the simulated chip driver and its control app for the emulator.
set(PANELUP_WARNINGS -Wall -Wextra -Werror)
set(PANELUP_EFI_LINK "/nodefaultlib /machine:x64 /Brepro /debug:none /opt:ref")

add_library(panelup_firmware_tool OBJECT ${PANELUP_TOOL_SOURCES}
  ${PROJECT_SOURCE_DIR}/uefi/freestanding.cpp ${PROJECT_SOURCE_DIR}/platform/port_io_x86.cpp)
target_include_directories(panelup_firmware_tool PUBLIC ${PANELUP_TOOL_INCLUDES})
target_compile_definitions(panelup_firmware_tool PUBLIC ${PANELUP_ACCESS_DEFINITIONS})
target_compile_options(panelup_firmware_tool PRIVATE ${PANELUP_WARNINGS})

add_executable(Panelup $<TARGET_OBJECTS:panelup_firmware_tool>)
set_target_properties(Panelup PROPERTIES LINKER_LANGUAGE CXX SUFFIX .efi
  LINK_FLAGS "/subsystem:efi_application /entry:EfiMain ${PANELUP_EFI_LINK}")

include(${CMAKE_CURRENT_LIST_DIR}/sim_images.cmake)
