set(ROSTER_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ROSTER_SOURCES
  ${ROSTER_DIR}/Inventory.cpp
  ${ROSTER_DIR}/InventoryImage.cpp
  ${ROSTER_DIR}/RecordHeader.cpp
  ${ROSTER_DIR}/SmbiosFields.cpp
  ${ROSTER_DIR}/SmbiosRecords.cpp
  ${ROSTER_DIR}/PciConfig.cpp
  ${ROSTER_DIR}/PciRootBridges.cpp
  ${ROSTER_DIR}/PciRecords.cpp
  ${ROSTER_DIR}/AtaIdentify.cpp
  ${ROSTER_DIR}/SataPort.cpp
  ${ROSTER_DIR}/SataRecords.cpp
)
