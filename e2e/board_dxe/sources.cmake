# The board-support DXE driver of the firmware run: the board's platform components,
# started by the DXE dispatcher instead of the boot manager.
set(BOARD_DXE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BOARD_DXE_SOURCES
  ${BOARD_DXE_DIR}/BoardDxeMain.cpp
  ${BOARD_DXE_DIR}/BoardScenario.cpp
  ${BOARD_DXE_DIR}/DispatchedImages.cpp
  ${BOARD_DXE_DIR}/OsBoot.cpp
  ${BOARD_DXE_DIR}/VirtualKeyboard.cpp
  ${BOARD_DXE_DIR}/PortIo.cpp
  ${BOARD_DXE_DIR}/SsvsProbe.cpp
  ${BOARD_PLATFORM_SOURCES}
)
