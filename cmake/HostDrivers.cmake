# Host build of the driver sources. Each driver becomes an object library, linked twice:
# into a loadable module that the simulator loads like an image (its own copy of the
# support layer, nothing visible but the entry point and the arch hooks), and into a
# static library that unit tests link to reach the driver's functions directly.

set(HOST_SANITIZER_FLAGS "")
if(HOST_SANITIZERS)
  set(HOST_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()

# Assertion records name source files relative to the tree, as the images do.
set(FIRMWARE_HOST_COMPILE_OPTIONS -fno-exceptions -fno-rtti -Wall -Wextra -Wno-unused-parameter
  -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

function(add_host_driver NAME)
  cmake_parse_arguments(D "" "" "SOURCES" ${ARGN})
  add_library(${NAME}_objects OBJECT ${D_SOURCES})
  target_include_directories(${NAME}_objects PUBLIC ${FIRMWARE_INCLUDE_DIRS})
  target_compile_options(${NAME}_objects PRIVATE ${FIRMWARE_HOST_COMPILE_OPTIONS} ${HOST_SANITIZER_FLAGS})
  set_target_properties(${NAME}_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

  add_library(${NAME}_code STATIC $<TARGET_OBJECTS:${NAME}_objects>)
  target_include_directories(${NAME}_code PUBLIC ${FIRMWARE_INCLUDE_DIRS})
  target_link_options(${NAME}_code INTERFACE ${HOST_SANITIZER_FLAGS})

  add_library(${NAME} MODULE $<TARGET_OBJECTS:${NAME}_objects>)
  set_target_properties(${NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${NAME})
  target_link_options(${NAME} PRIVATE ${HOST_SANITIZER_FLAGS} -Wl,-Bsymbolic)
endfunction()

add_host_driver(Roster SOURCES ${ROSTER_SOURCES} ${ROSTER_SUPPORT_SOURCES} ${SUPPORT_ARCH_HOST_SOURCES})
add_host_driver(Hotlatch SOURCES ${HOTLATCH_SOURCES} ${HOTLATCH_SUPPORT_SOURCES} ${SUPPORT_ARCH_HOST_SOURCES})
add_host_driver(KcsTransport SOURCES ${KCS_TRANSPORT_SOURCES} ${KCS_TRANSPORT_SUPPORT_SOURCES} ${SUPPORT_ARCH_HOST_SOURCES})
