# Module descriptions (NAME.module, beside the module's sources) made into what EDK II's
# build generates from an INF, by cmake/autogen.py at configure time: see README,
# "Module descriptions".

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(MODULE_AUTOGEN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/autogen.py)
set(MODULE_AUTOGEN_ROOT ${CMAKE_BINARY_DIR}/autogen)

# add_module_autogen(DESCRIPTION NAME.module LIBRARIES CATALOGUE... SOURCES LINKED_SOURCE...)
# sets, for STEM the description's name in upper case:
#   STEM_AUTOGEN_SOURCE       the generated AutoGen.cpp
#   STEM_AUTOGEN_INCLUDE_DIR  where <BASE_NAMEFileGuid.h> is
#   STEM_BASE_NAME, STEM_FILE_GUID, STEM_MODULE_TYPE
# Targets made after the call name the AutoGen.cpp in assertion records as a file of the
# description's folder (roster/AutoGen.cpp), wherever the build tree is.
function(add_module_autogen)
  cmake_parse_arguments(M "" "DESCRIPTION" "LIBRARIES;SOURCES" ${ARGN})
  get_filename_component(Description ${M_DESCRIPTION} ABSOLUTE)
  get_filename_component(Stem ${Description} NAME_WE)
  string(TOUPPER ${Stem} Prefix)
  get_filename_component(Folder ${Description} DIRECTORY)
  file(RELATIVE_PATH RelativeFolder ${PROJECT_SOURCE_DIR} ${Folder})
  set(Out ${MODULE_AUTOGEN_ROOT}/${RelativeFolder}/${Stem})
  set(Catalogues)
  foreach(catalogue ${M_LIBRARIES})
    get_filename_component(catalogue ${catalogue} ABSOLUTE)
    list(APPEND Catalogues ${catalogue})
  endforeach()

  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${MODULE_AUTOGEN_SCRIPT} --module ${Description} --libraries ${Catalogues}
            --source ${M_SOURCES} --out ${Out} --source-root ${PROJECT_SOURCE_DIR}
    RESULT_VARIABLE Result
    ERROR_VARIABLE Error)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "${Error}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${Description} ${Catalogues} ${MODULE_AUTOGEN_SCRIPT})

  include(${Out}/module.cmake)
  foreach(key BASE_NAME FILE_GUID MODULE_TYPE)
    set(${Prefix}_${key} ${${Prefix}_${key}} PARENT_SCOPE)
  endforeach()
  set(${Prefix}_AUTOGEN_SOURCE ${Out}/AutoGen.cpp PARENT_SCOPE)
  set(${Prefix}_AUTOGEN_INCLUDE_DIR ${Out}/include PARENT_SCOPE)
  add_compile_options(-fmacro-prefix-map=${Out}/=${RelativeFolder}/)
endfunction()
