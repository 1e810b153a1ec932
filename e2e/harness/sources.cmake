# The smoke-boot harness application: a plain UEFI application, not a driver. Its image
# loader and file reader serve the board harness too; its report goes through the board
# platform's writer.
set(HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(HARNESS_SOURCES
  ${HARNESS_DIR}/HarnessMain.cpp
  ${HARNESS_DIR}/ImageFile.cpp
  ${HARNESS_DIR}/ImageLoad.cpp
  ${HARNESS_DIR}/MemoryRoutinesCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../board_platform/BoardOutput.cpp
)
