# The board harness application: plays the platform around both drivers on the virtual
# board and reports what they did. Reuses the smoke harness's file reader.
set(BOARD_HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR})
# The platform components and the report, shared with the board-support DXE driver.
set(BOARD_PLATFORM_SOURCES
  ${BOARD_HARNESS_DIR}/BoardOutput.cpp
  ${BOARD_HARNESS_DIR}/BoardConfig.cpp
  ${BOARD_HARNESS_DIR}/BmcRecorder.cpp
  ${BOARD_HARNESS_DIR}/StatusCodeCapture.cpp
  ${BOARD_HARNESS_DIR}/PlatformPeers.cpp
  ${BOARD_HARNESS_DIR}/RecordSlots.cpp
  ${BOARD_HARNESS_DIR}/SetupVariables.cpp
  ${BOARD_HARNESS_DIR}/ControllerConnect.cpp
  ${BOARD_HARNESS_DIR}/Measurements.cpp
  ${BOARD_HARNESS_DIR}/FinalReport.cpp
  ${BOARD_HARNESS_DIR}/RootBridges.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../harness/ImageFile.cpp
)
set(BOARD_HARNESS_SOURCES
  ${BOARD_HARNESS_DIR}/BoardMain.cpp
  ${BOARD_HARNESS_DIR}/KeyboardWait.cpp
  ${BOARD_PLATFORM_SOURCES})
