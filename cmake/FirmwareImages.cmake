# The PE32+ images, configured only under cmake/uefi-toolchain.cmake (see cmake/Firmware.cmake).
# Every source is compiled straight into its image: no archives, so nothing an image needs
# can be dropped by archive member selection and each image carries its own support layer.

set(FIRMWARE_IMAGE_COMPILE_OPTIONS -Wall -Wextra -Wno-unused-parameter)

# NAME.efi with the given lld-link subsystem, written to the top of this build tree so
# the host build can name the files before they exist.
function(add_uefi_image NAME SUBSYSTEM)
  cmake_parse_arguments(I "" "" "SOURCES;INCLUDE_DIRS" ${ARGN})
  add_executable(${NAME} ${I_SOURCES})
  target_include_directories(${NAME} PRIVATE ${FIRMWARE_INCLUDE_DIRS} ${I_INCLUDE_DIRS})
  target_compile_options(${NAME} PRIVATE ${FIRMWARE_IMAGE_COMPILE_OPTIONS})
  target_link_options(${NAME} PRIVATE
    /subsystem:${SUBSYSTEM}
    /pdb:${CMAKE_BINARY_DIR}/${NAME}.pdb)
  set_target_properties(${NAME} PROPERTIES
    OUTPUT_NAME ${NAME}
    SUFFIX .efi
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

add_uefi_image(Roster efi_boot_service_driver
  SOURCES ${ROSTER_SOURCES} ${ROSTER_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})

add_uefi_image(Hotlatch efi_runtime_driver
  SOURCES ${HOTLATCH_SOURCES} ${HOTLATCH_SUPPORT_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES})

# The real-firmware test applications, only for a build with tests.
if(FIRMWARE_TEST_HARNESSES)
  include(${PROJECT_SOURCE_DIR}/e2e/harness/sources.cmake)
  include(${PROJECT_SOURCE_DIR}/e2e/board_harness/sources.cmake)

  add_uefi_image(SmokeHarness efi_application
    SOURCES ${HARNESS_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES}
    INCLUDE_DIRS ${HARNESS_DIR})

  add_uefi_image(BoardHarness efi_application
    SOURCES ${BOARD_HARNESS_SOURCES} ${SUPPORT_ARCH_EFI_SOURCES}
    INCLUDE_DIRS ${BOARD_HARNESS_DIR} ${HARNESS_DIR})
endif()
