# The tool's sources, compiled unchanged by the firmware and the host builds.
set(PANELUP_TOOL_SOURCES
    app/main.cpp
    app/operands.cpp
    app/version_query.cpp
    catalogue/catalogue.cpp
    catalogue/support_list.cpp
    chip/registers.cpp
    console/format.cpp
    console/print.cpp
    console/status_names.cpp
    uefi/entry.cpp
    uefi/firmware.cpp
    update/update.cpp)
list(TRANSFORM PANELUP_TOOL_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
