# The smoke-boot harness application: a plain UEFI application, not a driver.
set(HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(HARNESS_SOURCES
  ${HARNESS_DIR}/HarnessMain.cpp
  ${HARNESS_DIR}/ImageFile.cpp
  ${HARNESS_DIR}/MemoryRoutinesCheck.cpp
  ${HARNESS_DIR}/ReportLine.cpp
)
