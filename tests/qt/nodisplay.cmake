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

# --lang takes the two codes, before the file or after it; another code is a command line not understood.
foreach(args "--lang;en" "--lang=ru;x.w3o" "x.w3o;--lang;en" "--lang;de" "--lang")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM ${PROGRAM} ${args}
    RESULT_VARIABLE status
    ERROR_VARIABLE err
    TIMEOUT 60)
  set(expected 1)
  if(args MATCHES "de$" OR args STREQUAL "--lang")
    set(expected 2)
  endif()
  if(NOT status STREQUAL expected)
    message(FATAL_ERROR "brindlemark ${args}: exit status ${status}, expected ${expected}; stderr: ${err}")
  endif()
endforeach()
