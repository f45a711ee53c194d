cmake_minimum_required(VERSION 3.20)
# cmake -DOBJDUMP=... -DPROGRAM=... -P checkimports.cmake: fails when the program imports a DLL that not every
# Windows has (a compiler runtime such as libstdc++-6.dll or libwinpthread-1.dll, say).
set(system_dlls kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll shell32.dll ole32.dll
                msvcrt.dll ucrtbase.dll ws2_32.dll bcrypt.dll uxtheme.dll
                wininet.dll) # wininet: StormLib reads archives over HTTP too, and links it
execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
if(NOT names)
  message(FATAL_ERROR "${PROGRAM}: no imports found")
endif()
foreach(entry IN LISTS names)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${PROGRAM} needs ${dll}, which Windows does not bring")
  endif()
  message(STATUS "${dll}")
endforeach()
