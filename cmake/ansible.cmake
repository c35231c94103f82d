# The Ansible collection panelup.fleet (os/ansible/panelup/fleet): its tarball, built offline by
# ansible-galaxy with the tree's VERSION, in every build; the panelup-ansible package installs it.
set(PANELUP_COLLECTION_SOURCE ${PROJECT_SOURCE_DIR}/os/ansible/panelup/fleet)
file(GLOB_RECURSE PANELUP_COLLECTION_FILES CONFIGURE_DEPENDS ${PANELUP_COLLECTION_SOURCE}/*)
set(PANELUP_COLLECTION ${CMAKE_BINARY_DIR}/ansible/panelup-fleet-${panelup_version}.tar.gz)
add_custom_command(OUTPUT ${PANELUP_COLLECTION}
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/make-collection.sh ${CMAKE_BINARY_DIR}/ansible
  DEPENDS ${PANELUP_COLLECTION_FILES} ${PROJECT_SOURCE_DIR}/scripts/make-collection.sh
          ${PROJECT_SOURCE_DIR}/VERSION)
add_custom_target(collection ALL DEPENDS ${PANELUP_COLLECTION})
