# The virtual board's platform components around Roster and Hotlatch, the board run's steps
# and its report writer: one set of sources for the board harness application and the
# board-support DXE driver of the platform build.
set(BOARD_PLATFORM_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BOARD_PLATFORM_SOURCES
  ${BOARD_PLATFORM_DIR}/BoardOutput.cpp
  ${BOARD_PLATFORM_DIR}/BoardConfig.cpp
  ${BOARD_PLATFORM_DIR}/BoardSteps.cpp
  ${BOARD_PLATFORM_DIR}/BmcRecorder.cpp
  ${BOARD_PLATFORM_DIR}/StatusCodeCapture.cpp
  ${BOARD_PLATFORM_DIR}/PlatformPeers.cpp
  ${BOARD_PLATFORM_DIR}/RecordSlots.cpp
  ${BOARD_PLATFORM_DIR}/SetupVariables.cpp
  ${BOARD_PLATFORM_DIR}/ControllerConnect.cpp
  ${BOARD_PLATFORM_DIR}/Measurements.cpp
  ${BOARD_PLATFORM_DIR}/RootBridges.cpp
)
