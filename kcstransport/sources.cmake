set(KCS_TRANSPORT_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KCS_TRANSPORT_SOURCES
  ${KCS_TRANSPORT_DIR}/AutoGen.cpp
  ${KCS_TRANSPORT_DIR}/KcsTransportEntry.cpp
  ${KCS_TRANSPORT_DIR}/KcsLocate.cpp
  ${KCS_TRANSPORT_DIR}/KcsInterface.cpp
  ${KCS_TRANSPORT_DIR}/KcsRequest.cpp
  ${KCS_TRANSPORT_DIR}/KcsLargeCommand.cpp
)
