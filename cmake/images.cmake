# Checks the firmware images against the manifest and turns them into C++ sources, at configure
# time, so a wrong image stops the build before anything is compiled.
option(PANELUP_REQUIRE_GENUINE_IMAGES "Fail when a catalogue image is missing" OFF)

set(PANELUP_IMAGE_DIR ${PROJECT_SOURCE_DIR}/catalogue/images CACHE PATH
  "Folder holding the firmware images and their manifest")
set(PANELUP_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${PANELUP_GENERATED_DIR})

# The embedder is a project of its own (cmake/embedder), built here by CMake, which rebuilds it
# when its sources change; it checks each image's CRC-32 with the tool's own (catalogue/crc32.cpp).
set(embedder ${CMAKE_BINARY_DIR}/tools/embed_images)
try_compile(embedder_built ${CMAKE_BINARY_DIR}/tools ${PROJECT_SOURCE_DIR}/cmake/embedder
  PanelupEmbedder embed_images
  CMAKE_FLAGS -DPANELUP_SOURCE_DIR=${PROJECT_SOURCE_DIR} -DCMAKE_BUILD_TYPE=Release
  OUTPUT_VARIABLE errors)
if(NOT embedder_built)
  message(FATAL_ERROR "Cannot build the image embedder:\n${errors}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/scripts/embed_images.cpp ${PROJECT_SOURCE_DIR}/catalogue/crc32.cpp
  ${PROJECT_SOURCE_DIR}/catalogue/crc32.h)

if(PANELUP_REQUIRE_GENUINE_IMAGES)
  set(require 1)
else()
  set(require 0)
endif()
execute_process(
  COMMAND ${embedder} ${PANELUP_IMAGE_DIR}/manifest.txt ${PANELUP_IMAGE_DIR}
          ${PANELUP_GENERATED_DIR} ${require}
  RESULT_VARIABLE result OUTPUT_VARIABLE summary ERROR_VARIABLE errors
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(result)
  message(FATAL_ERROR "Firmware images rejected: ${errors}")
endif()
message(STATUS "Firmware images: ${summary}")

# Adding, removing or changing an image reconfigures.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PANELUP_IMAGE_DIR} ${PANELUP_IMAGE_DIR}/manifest.txt)
file(GLOB present_images ${PANELUP_IMAGE_DIR}/*.bin)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${present_images})

if(summary MATCHES "^9 of 9 ")
  set(PANELUP_IMAGES_VERDICT genuine)
else()
  set(PANELUP_IMAGES_VERDICT test)
endif()
# The build id (cmake/build_id.cmake): written now, so every target finds it, and again at every
# build (host.cmake), so a new commit shows without a configure.
set(PANELUP_BUILD_ID_COMMAND ${CMAKE_COMMAND} -DSRC=${PROJECT_SOURCE_DIR}
  -DOUT_DIR=${PANELUP_GENERATED_DIR} -DIMAGES=${PANELUP_IMAGES_VERDICT}
  -P ${PROJECT_SOURCE_DIR}/cmake/build_id.cmake)
execute_process(COMMAND ${PANELUP_BUILD_ID_COMMAND} RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "Cannot write the build id")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/VERSION)

if(NOT summary MATCHES "^9 of 9 ")
  set(PANELUP_IMAGE_WARNING
    "WARNING: Panelup.efi carries TEST PATTERNS in place of missing firmware images. It is NOT for real panels: flashing it leaves the panel without working firmware. Put the genuine images in catalogue/images/.")
  message(WARNING "${PANELUP_IMAGE_WARNING}")
endif()
