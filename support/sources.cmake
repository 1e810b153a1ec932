# Support-layer sources. Each driver links the common set plus the instances it names.
set(SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})

set(SUPPORT_COMMON_SOURCES
  ${SUPPORT_DIR}/DriverEntryPoint.cpp
  ${SUPPORT_DIR}/UefiBootServicesTableLib.cpp
  ${SUPPORT_DIR}/UefiRuntimeServicesTableLib.cpp
  ${SUPPORT_DIR}/BaseMemoryLib.cpp
  ${SUPPORT_DIR}/BaseLibString.cpp
  ${SUPPORT_DIR}/BaseLibUnaligned.cpp
  ${SUPPORT_DIR}/BaseLibMath64.cpp
  ${SUPPORT_DIR}/CpuBreakpoint.cpp
  ${SUPPORT_DIR}/MemoryAllocationLib.cpp
  ${SUPPORT_DIR}/HobLib.cpp
  ${SUPPORT_DIR}/UefiLib.cpp
  ${SUPPORT_DIR}/PcdLib.cpp
  ${SUPPORT_DIR}/TscTimerLib.cpp
  ${SUPPORT_DIR}/S3BootScriptLib.cpp
  ${SUPPORT_DIR}/PrintLib.cpp
  ${SUPPORT_DIR}/DebugLib.cpp
  ${SUPPORT_DIR}/DebugMessageConfig.cpp
  ${SUPPORT_DIR}/DebugPrintErrorLevelLib.cpp
  ${SUPPORT_DIR}/ReportStatusCodeCommon.cpp
  ${SUPPORT_DIR}/CpuDeadLoop.cpp
  ${SUPPORT_DIR}/ModuleNameFromPdb.cpp
  ${SUPPORT_DIR}/PeCoffGetEntryPointLib.cpp
)

# Boot-service status-code instance (Roster) and runtime instance with its runtime library (Hotlatch).
set(SUPPORT_DXE_SOURCES
  ${SUPPORT_DIR}/DxeReportStatusCodeLib.cpp
)
set(SUPPORT_RUNTIME_SOURCES
  ${SUPPORT_DIR}/UefiRuntimeLib.cpp
  ${SUPPORT_DIR}/RuntimeDxeReportStatusCodeLib.cpp
)

set(ROSTER_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES} ${SUPPORT_DXE_SOURCES})
set(HOTLATCH_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES} ${SUPPORT_RUNTIME_SOURCES})
set(KCS_TRANSPORT_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES} ${SUPPORT_DXE_SOURCES})

set(SUPPORT_ARCH_HOST_SOURCES ${SUPPORT_DIR}/arch/ArchHost.cpp)
set(SUPPORT_ARCH_EFI_SOURCES ${SUPPORT_DIR}/arch/ArchX64.cpp)
