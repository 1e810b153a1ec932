# Builds the PE32+ images from this same source tree with the UEFI cross toolchain, as a
# nested build under ${CMAKE_BINARY_DIR}/efi, and tells the host build where they land.

include(ExternalProject)

get_filename_component(FIRMWARE_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

set(FIRMWARE_BINARY_DIR ${CMAKE_BINARY_DIR}/efi)
set(ROSTER_EFI_PATH ${FIRMWARE_BINARY_DIR}/Roster.efi)
set(HOTLATCH_EFI_PATH ${FIRMWARE_BINARY_DIR}/Hotlatch.efi)
set(KCS_TRANSPORT_EFI_PATH ${FIRMWARE_BINARY_DIR}/KcsTransport.efi)
set(HARNESS_EFI_PATH ${FIRMWARE_BINARY_DIR}/SmokeHarness.efi)
set(BOARD_HARNESS_EFI_PATH ${FIRMWARE_BINARY_DIR}/BoardHarness.efi)
set(BOARD_DXE_EFI_PATH ${FIRMWARE_BINARY_DIR}/BoardDxe.efi)
set(FIRMWARE_IMAGE_PATHS ${ROSTER_EFI_PATH} ${HOTLATCH_EFI_PATH} ${KCS_TRANSPORT_EFI_PATH})
if(BUILD_TESTING)
  list(APPEND FIRMWARE_IMAGE_PATHS ${HARNESS_EFI_PATH} ${BOARD_HARNESS_EFI_PATH} ${BOARD_DXE_EFI_PATH})
endif()

# Make shares its jobserver with the nested make; other generators get an explicit cap so
# the nested build never takes more than the two jobs the outer one is allowed.
set(FIRMWARE_BUILD_COMMAND)
if(NOT CMAKE_GENERATOR MATCHES "Make")
  set(FIRMWARE_BUILD_COMMAND BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --parallel 2)
endif()

ExternalProject_Add(firmware_build
  SOURCE_DIR ${FIRMWARE_SOURCE_DIR}
  BINARY_DIR ${FIRMWARE_BINARY_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${FIRMWARE_SOURCE_DIR}/cmake/uefi-toolchain.cmake
    -DUEFI_FIRMWARE_BUILD=ON
    -DFIRMWARE_TEST_HARNESSES=${BUILD_TESTING}
    -DCMAKE_BUILD_TYPE=
  ${FIRMWARE_BUILD_COMMAND}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${FIRMWARE_IMAGE_PATHS})

add_custom_target(firmware_images ALL DEPENDS firmware_build)
