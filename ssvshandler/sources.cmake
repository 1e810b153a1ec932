# The reference "SSVS" software-SMI handler, a Traditional MM driver. Its support layer is
# the common set with the two instances an MM driver needs instead of the DXE ones: status
# codes through the MM status-code protocol and a fixed debug level (the runtime services
# that the DXE level library reads a variable through may not be called from MM).
set(SSVS_HANDLER_DIR ${CMAKE_CURRENT_LIST_DIR})
set(SSVS_HANDLER_SOURCES
  ${SSVS_HANDLER_DIR}/AutoGen.cpp
  ${SSVS_HANDLER_DIR}/SsvsHandler.cpp
  ${SSVS_HANDLER_DIR}/SsvsPacket.cpp
)

set(SSVS_HANDLER_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES})
list(REMOVE_ITEM SSVS_HANDLER_SUPPORT_SOURCES ${SUPPORT_DIR}/DebugPrintErrorLevelLib.cpp)
list(APPEND SSVS_HANDLER_SUPPORT_SOURCES ${SUPPORT_MM_SOURCES})
