# panelupctl: a Linux program on Debian's libraries for the firmware's variables, boot entries
# and file systems, with the host build's warnings and Debian's hardening flags. It ships, so it
# is never built with the sanitizers the host tests use.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PANELUPCTL_LIBS REQUIRED IMPORTED_TARGET efivar efiboot blkid mount)
find_package(nlohmann_json 3 REQUIRED)

file(READ ${PROJECT_SOURCE_DIR}/VERSION panelup_version)
string(STRIP "${panelup_version}" panelup_version)

set(PANELUP_FORMAT_SOURCES formats/build_mark.cpp formats/catalogue_file.cpp
  formats/result_record.cpp formats/schedule.cpp)
list(TRANSFORM PANELUP_FORMAT_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
# What the host tests and the fuzz targets check of panelupctl: its readers, without the machine.
set(PANELUPCTL_PURE_SOURCES os/src/image.cpp os/src/load_option.cpp)
list(TRANSFORM PANELUPCTL_PURE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
set(PANELUPCTL_SOURCES ${PANELUPCTL_PURE_SOURCES} os/src/bridge.cpp os/src/efi.cpp os/src/esp.cpp
  os/src/files.cpp os/src/panelupctl.cpp)
list(TRANSFORM PANELUPCTL_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ REGEX "^os/")

# dpkg-buildflags' hardening for a C++ program (Debian 12, hardening=+all).
set(PANELUP_HARDENING_COMPILE -O2 -g -fstack-protector-strong -fstack-clash-protection
  -fcf-protection -Wformat -Werror=format-security -D_FORTIFY_SOURCE=2 -fPIE)
set(PANELUP_HARDENING_LINK -pie -Wl,-z,relro -Wl,-z,now -Wl,--as-needed)

add_executable(panelupctl ${PANELUPCTL_SOURCES} ${PANELUP_FORMAT_SOURCES})
set_target_properties(panelupctl PROPERTIES
  COMPILE_OPTIONS "${PANELUP_WARNINGS};${PANELUP_HARDENING_COMPILE}"
  LINK_OPTIONS "${PANELUP_HARDENING_LINK}"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_include_directories(panelupctl PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/os/src
  ${PANELUP_GENERATED_DIR})
target_link_libraries(panelupctl PRIVATE PkgConfig::PANELUPCTL_LIBS nlohmann_json::nlohmann_json)
add_dependencies(panelupctl build_id)
