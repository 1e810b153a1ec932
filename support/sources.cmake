# Support-layer sources. Each driver links the common set plus the instances it names.
set(SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})

set(SUPPORT_COMMON_SOURCES
)

# Boot-service status-code instance (Roster) and runtime instance with its runtime library (Hotlatch).
set(SUPPORT_DXE_SOURCES
)
set(SUPPORT_RUNTIME_SOURCES
)

set(ROSTER_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES} ${SUPPORT_DXE_SOURCES})
set(HOTLATCH_SUPPORT_SOURCES ${SUPPORT_COMMON_SOURCES} ${SUPPORT_RUNTIME_SOURCES})

set(SUPPORT_ARCH_HOST_SOURCES ${SUPPORT_DIR}/arch/ArchHost.cpp)
set(SUPPORT_ARCH_EFI_SOURCES ${SUPPORT_DIR}/arch/ArchX64.cpp)
