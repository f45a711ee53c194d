# What the Windows programs carry: the application icon, made from the icon the Qt window shows, and a version
# resource; and the zip a Windows user downloads.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(BRINDLEMARK_ICON "${PROJECT_BINARY_DIR}/resources/brindlemark.ico")
add_custom_command(
  OUTPUT "${BRINDLEMARK_ICON}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/resources"
  COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/cmake/xpm2ico.py"
          "${PROJECT_SOURCE_DIR}/app/qt/icon/brindlemark.xpm" "${BRINDLEMARK_ICON}"
  DEPENDS "${PROJECT_SOURCE_DIR}/cmake/xpm2ico.py" "${PROJECT_SOURCE_DIR}/app/qt/icon/brindlemark.xpm"
  COMMENT "Making the application icon")
add_custom_target(brindlemark_icon DEPENDS "${BRINDLEMARK_ICON}")

# brindlemark_windows_resources(TARGET DESCRIPTION [MANIFEST file]): gives the program its icon and a version
# resource, and the manifest where one is given.
function(brindlemark_windows_resources target description)
  cmake_parse_arguments(R "" "MANIFEST" "" ${ARGN})
  set(BRINDLEMARK_RC_MANIFEST "")
  if(R_MANIFEST)
    set(BRINDLEMARK_RC_MANIFEST "1 24 \"${R_MANIFEST}\" // the application manifest")
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(BRINDLEMARK_RC_NAME "${name}")
  set(BRINDLEMARK_RC_FILE "${name}.exe")
  set(BRINDLEMARK_RC_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/versioninfo.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${BRINDLEMARK_ICON}")
  add_dependencies(${target} brindlemark_icon)
endfunction()
