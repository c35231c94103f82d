# The tool's sources, compiled unchanged by the firmware and the host builds.
set(PANELUP_TOOL_SOURCES
    app/build_id.cpp
    app/calendar.cpp
    app/entry.cpp
    app/main.cpp
    app/operands.cpp
    app/result_record.cpp
    app/unattended.cpp
    app/version_query.cpp
    catalogue/catalogue.cpp
    catalogue/crc32.cpp
    catalogue/support_list.cpp
    chip/flash.cpp
    chip/registers.cpp
    console/format.cpp
    console/print.cpp
    console/status_names.cpp
    formats/build_mark.cpp
    formats/catalogue_file.cpp
    formats/result_record.cpp
    formats/schedule.cpp
    platform/cmos.cpp
    uefi/arguments.cpp
    uefi/services.cpp
    update/key_custody.cpp
    update/update.cpp)
list(TRANSFORM PANELUP_TOOL_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
# The catalogue's images, checked and turned into C++ by the host configure.
list(APPEND PANELUP_TOOL_SOURCES ${PANELUP_GENERATED_DIR}/catalogue_images.cpp)
set(PANELUP_TOOL_INCLUDES ${PROJECT_SOURCE_DIR} ${PANELUP_GENERATED_DIR})

# The simulated chip and bus, built into the host tests and into the emulator's images alike.
set(PANELUP_SIM_MODEL_SOURCES sim/bridge_chip.cpp sim/flash_controller.cpp sim/sim_bus.cpp)
list(TRANSFORM PANELUP_SIM_MODEL_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
