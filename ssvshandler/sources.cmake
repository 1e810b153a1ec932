# The reference "SSVS" software-SMI handler, a Traditional MM driver (SsvsHandler.module).
# Its support layer is the common set without what an MM driver does not link (the runtime
# services table, HOBs, the TSC timer, the S3 boot script, the DXE debug level), with the
# MM instances instead.
set(SSVS_HANDLER_DIR ${CMAKE_CURRENT_LIST_DIR})
set(SSVS_HANDLER_SOURCES
  ${SSVS_HANDLER_DIR}/SsvsHandler.cpp
  ${SSVS_HANDLER_DIR}/SsvsPacket.cpp
)

set(SSVS_HANDLER_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES})
list(REMOVE_ITEM SSVS_HANDLER_SUPPORT_SOURCES
  ${SUPPORT_DIR}/UefiRuntimeServicesTableLib.cpp
  ${SUPPORT_DIR}/HobLib.cpp
  ${SUPPORT_DIR}/TscTimerLib.cpp
  ${SUPPORT_DIR}/S3BootScriptLib.cpp
  ${SUPPORT_DIR}/DebugPrintErrorLevelLib.cpp)
list(APPEND SSVS_HANDLER_SUPPORT_SOURCES ${SUPPORT_MM_SOURCES})
