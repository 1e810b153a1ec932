# The board harness application: plays the platform around both drivers on the virtual
# board and reports what they did. Loads the drivers with the smoke harness's loader.
set(BOARD_HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BOARD_HARNESS_SOURCES
  ${BOARD_HARNESS_DIR}/BoardMain.cpp
  ${BOARD_HARNESS_DIR}/KeyboardWait.cpp
  ${HARNESS_DIR}/ImageFile.cpp
  ${HARNESS_DIR}/ImageLoad.cpp
  ${BOARD_PLATFORM_SOURCES})
