# Checks on the built UEFI images: their PE headers, read by llvm-readobj, and a second clean
# build that must give the same bytes.
if(TARGET uefi_images)
  # The emulator's fixture brings the images up to date first.
  add_test(NAME efi_images
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/build/efi_images_test.sh ${PANELUP_EFI_DIR})
  set_tests_properties(efi_images PROPERTIES LABELS build FIXTURES_REQUIRED emulator_images)

  add_test(NAME reproducible_images
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/build/reproducible_test.sh ${PROJECT_SOURCE_DIR}
            ${PANELUP_GENERATED_DIR} ${CMAKE_BINARY_DIR}/reproducible ${PANELUP_ACCESS_CODE})
  set_tests_properties(reproducible_images PROPERTIES LABELS build TIMEOUT 600)
endif()

# The access code never sits in Panelup.efi as one string, whatever its digits.
if(TARGET uefi_images)
  add_test(NAME access_code_hidden
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/build/access_code_test.sh ${PROJECT_SOURCE_DIR}
            ${PANELUP_GENERATED_DIR} ${CMAKE_BINARY_DIR}/access-code-checks
            ${PANELUP_ACCESS_CODE} 13572468091 98765432101)
  set_tests_properties(access_code_hidden PROPERTIES LABELS build TIMEOUT 600)
endif()
