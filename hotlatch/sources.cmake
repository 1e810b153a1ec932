set(HOTLATCH_DIR ${CMAKE_CURRENT_LIST_DIR})
set(HOTLATCH_SOURCES
  ${HOTLATCH_DIR}/DebugKeyData.cpp
  ${HOTLATCH_DIR}/HotKeyEntry.cpp
  ${HOTLATCH_DIR}/HotKeyArm.cpp
  ${HOTLATCH_DIR}/HotKeyDisarm.cpp
  ${HOTLATCH_DIR}/SetupRecord.cpp
  ${HOTLATCH_DIR}/SetupDebugOption.cpp
  ${HOTLATCH_DIR}/PlatformHideOption.cpp
  ${HOTLATCH_DIR}/DxeVariableLib/DxeVariableLib.cpp
  ${HOTLATCH_DIR}/DxeVariableLib/VarLibSetVariable.cpp
  ${HOTLATCH_DIR}/DxeVariableLib/SmmVariableSetVariable.cpp
  ${HOTLATCH_DIR}/DxeVariableLib/SmiVariablePacket.cpp
  ${HOTLATCH_DIR}/TeskRegistrationLib/TeskRegistrationLib.cpp
  ${HOTLATCH_DIR}/TeskRegistrationLib/TeskPointerRegistration.cpp
)
