# The PE32+ images, configured only under cmake/uefi-toolchain.cmake (see cmake/Firmware.cmake).
# Every source is compiled straight into its image: no archives, so nothing an image needs
# can be dropped by archive member selection and each image carries its own support layer.

# Sized for flash: -Oz with link-time optimisation (each image is one module to the
# optimiser, so whatever a driver never calls goes), no jump tables (a table costs more than
# the compare chain it replaces at these sizes), and every function and object in a section
# of its own for lld-link's /opt:ref. Given per image rather than in the toolchain file so
# an existing build tree picks them up too.
# Source paths relative to the tree in the file names assertion records carry, as in the
# host build of the same drivers, so the records do not depend on where the tree is.
set(FIRMWARE_IMAGE_COMPILE_OPTIONS -Wall -Wextra -Wno-unused-parameter -Oz -flto -fno-jump-tables -ffunction-sections -fdata-sections
  -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

# Section and file alignment. Boot-service code is loaded by copying and freed at
# ExitBootServices, so 32 bytes (what EDK II's own DXE drivers use) keeps the image small;
# a runtime image keeps 4 KiB sections because the OS maps each one with its own
# attributes. File alignment only shapes the file on flash: 32 bytes for every image.
set(UEFI_IMAGE_FILE_ALIGNMENT 32)
set(UEFI_BOOT_SERVICE_SECTION_ALIGNMENT 32)
set(UEFI_RUNTIME_SECTION_ALIGNMENT 4096)

# NAME.efi with the given lld-link subsystem, written to the top of this build tree so
# the host build can name the files before they exist.
function(add_uefi_image NAME SUBSYSTEM)
  cmake_parse_arguments(I "" "SECTION_ALIGNMENT" "SOURCES;INCLUDE_DIRS" ${ARGN})
  if(I_SECTION_ALIGNMENT)
    set(SectionAlignment ${I_SECTION_ALIGNMENT})
  elseif(SUBSYSTEM STREQUAL "efi_runtime_driver")
    set(SectionAlignment ${UEFI_RUNTIME_SECTION_ALIGNMENT})
  else()
    set(SectionAlignment ${UEFI_BOOT_SERVICE_SECTION_ALIGNMENT})
  endif()
  add_executable(${NAME} ${I_SOURCES})
  target_include_directories(${NAME} PRIVATE ${FIRMWARE_INCLUDE_DIRS} ${I_INCLUDE_DIRS})
  target_compile_options(${NAME} PRIVATE ${FIRMWARE_IMAGE_COMPILE_OPTIONS})
  target_link_options(${NAME} PRIVATE
    /subsystem:${SUBSYSTEM}
    /align:${SectionAlignment}
    /filealign:${UEFI_IMAGE_FILE_ALIGNMENT}
    /pdb:${CMAKE_BINARY_DIR}/${NAME}.pdb
    # The CodeView entry names the PDB alone and the timestamp is a hash of the content, so
    # a rebuild of the same tree gives the same bytes and the firmware build's cache holds.
    # (The PDB records absolute paths; its signature, in the image, differs per checkout.)
    /pdbaltpath:%_PDB%
    /Brepro)
  set_target_properties(${NAME} PROPERTIES
    OUTPUT_NAME ${NAME}
    SUFFIX .efi
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

add_uefi_image(Roster efi_boot_service_driver
  SOURCES ${ROSTER_SOURCES} ${ROSTER_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})

add_uefi_image(Hotlatch efi_runtime_driver
  SOURCES ${HOTLATCH_SOURCES} ${HOTLATCH_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})

# The optional KCS management transport the package ships beside the drivers.
add_uefi_image(KcsTransport efi_boot_service_driver
  SOURCES ${KCS_TRANSPORT_SOURCES} ${KCS_TRANSPORT_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})
# The reference SSVS handler: a DXE_SMM_DRIVER, which EDK II links as a boot-service driver
# (subsystem 11); the SMM core loads it into MMRAM. 4 KiB sections, as EDK II platforms link
# their MM drivers, so the core can map code read-only and data non-executable per page.
add_uefi_image(SsvsHandler efi_boot_service_driver SECTION_ALIGNMENT 4096
  SOURCES ${SSVS_HANDLER_SOURCES} ${SSVS_HANDLER_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})

# The real-firmware test applications, only for a build with tests.
if(FIRMWARE_TEST_HARNESSES)
  include(${PROJECT_SOURCE_DIR}/e2e/board_platform/sources.cmake)
  include(${PROJECT_SOURCE_DIR}/e2e/harness/sources.cmake)
  include(${PROJECT_SOURCE_DIR}/e2e/board_harness/sources.cmake)
  include(${PROJECT_SOURCE_DIR}/e2e/board_dxe/sources.cmake)

  add_uefi_image(SmokeHarness efi_application
    SOURCES ${HARNESS_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES}
    INCLUDE_DIRS ${HARNESS_DIR} ${BOARD_PLATFORM_DIR})

  # Both recognise the drivers' reports by the file GUIDs of their module descriptions.
  set(DRIVER_FILE_GUID_DIRS ${ROSTER_AUTOGEN_INCLUDE_DIR} ${HOTLATCH_AUTOGEN_INCLUDE_DIR}
    ${KCSTRANSPORT_AUTOGEN_INCLUDE_DIR})
  add_uefi_image(BoardHarness efi_application
    SOURCES ${BOARD_HARNESS_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES}
    INCLUDE_DIRS ${BOARD_HARNESS_DIR} ${HARNESS_DIR} ${BOARD_PLATFORM_DIR} ${DRIVER_FILE_GUID_DIRS})

  # The board-support DXE driver of the platform build's run.
  add_uefi_image(BoardDxe efi_boot_service_driver
    SOURCES ${BOARD_DXE_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES}
    INCLUDE_DIRS ${BOARD_DXE_DIR} ${BOARD_PLATFORM_DIR} ${DRIVER_FILE_GUID_DIRS})
endif()
