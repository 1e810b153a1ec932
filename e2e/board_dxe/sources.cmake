# The board-support DXE driver of the firmware run: the board harness's platform
# components, started by the DXE dispatcher instead of the boot manager.
set(BOARD_DXE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BOARD_DXE_SOURCES
  ${BOARD_DXE_DIR}/BoardDxeMain.cpp
  ${BOARD_DXE_DIR}/BoardScenario.cpp
  ${BOARD_DXE_DIR}/DispatchedImages.cpp
  ${BOARD_DXE_DIR}/PortIo.cpp
  ${BOARD_HARNESS_DIR}/BoardOutput.cpp
  ${BOARD_HARNESS_DIR}/BoardConfig.cpp
  ${BOARD_HARNESS_DIR}/BmcRecorder.cpp
  ${BOARD_HARNESS_DIR}/StatusCodeCapture.cpp
  ${BOARD_HARNESS_DIR}/PlatformPeers.cpp
  ${BOARD_HARNESS_DIR}/RecordSlots.cpp
  ${BOARD_HARNESS_DIR}/SetupVariables.cpp
  ${BOARD_HARNESS_DIR}/ControllerConnect.cpp
  ${BOARD_HARNESS_DIR}/Measurements.cpp
  ${BOARD_HARNESS_DIR}/RootBridges.cpp
  ${HARNESS_DIR}/ImageFile.cpp
)
