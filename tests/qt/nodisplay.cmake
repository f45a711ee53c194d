# Runs the window program with no display in its environment; expects exit status 1 and the plain message.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM ${PROGRAM}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 60)
set(expected "brindlemark: no display found; set DISPLAY or run with QT_QPA_PLATFORM=offscreen\n")
if(NOT status STREQUAL "1")
  message(FATAL_ERROR "exit status ${status}, expected 1; stderr: ${err}")
endif()
if(NOT err STREQUAL expected)
  message(FATAL_ERROR "stderr was \"${err}\", expected \"${expected}\"")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "unexpected output: ${out}")
endif()
