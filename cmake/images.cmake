# Checks the firmware images against the manifest and turns them into C++ sources, at configure
# time, so a wrong image stops the build before anything is compiled.
option(PANELUP_REQUIRE_GENUINE_IMAGES "Fail when a catalogue image is missing" OFF)

set(PANELUP_IMAGE_DIR ${PROJECT_SOURCE_DIR}/catalogue/images CACHE PATH
  "Folder holding the firmware images and their manifest")
set(PANELUP_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(embedder ${CMAKE_BINARY_DIR}/tools/embed_images)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/tools ${PANELUP_GENERATED_DIR})

# The embedder checks each image's CRC-32 with the tool's own (catalogue/crc32.cpp).
set(embedder_sources ${PROJECT_SOURCE_DIR}/scripts/embed_images.cpp ${PROJECT_SOURCE_DIR}/catalogue/crc32.cpp)
set(embedder_stale FALSE)
foreach(source ${embedder_sources} ${PROJECT_SOURCE_DIR}/catalogue/crc32.h)
  if(NOT EXISTS ${embedder} OR ${source} IS_NEWER_THAN ${embedder})
    set(embedder_stale TRUE)
  endif()
endforeach()
if(embedder_stale)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -std=c++20 -O2 -I${PROJECT_SOURCE_DIR} -o ${embedder}
            ${embedder_sources}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(result)
    message(FATAL_ERROR "Cannot build the image embedder:\n${errors}")
  endif()
endif()

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

if(NOT summary MATCHES "^9 of 9 ")
  set(PANELUP_IMAGE_WARNING
    "WARNING: Panelup.efi carries TEST PATTERNS in place of missing firmware images. It is NOT for real panels: flashing it leaves the panel without working firmware. Put the genuine images in catalogue/images/.")
  message(WARNING "${PANELUP_IMAGE_WARNING}")
endif()
