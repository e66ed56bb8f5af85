# cmake -DOBJDUMP=<objdump> -DFILE=<program.exe> -P CheckImports.cmake
# Fails when the program imports directly a library beyond kernel32, user32, gdi32, advapi32,
# shell32 and the C runtime: any other system library would be looked for in the program's
# own folder first. Delay imports do not appear in the import table.
cmake_minimum_required(VERSION 3.25)
set(_allowed kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll msvcrt.dll ucrtbase.dll)
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE _dump RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${_rc})")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" _names "${_dump}")
if(NOT _names)
  message(FATAL_ERROR "${FILE}: no import table found in the output of ${OBJDUMP} -p")
endif()
set(_bad "")
foreach(_entry IN LISTS _names)
  string(REGEX REPLACE "^DLL Name: " "" _dll "${_entry}")
  string(STRIP "${_dll}" _dll)
  string(TOLOWER "${_dll}" _lower)
  if(NOT _lower IN_LIST _allowed AND NOT _lower MATCHES "^api-ms-win-crt-[a-z0-9-]+\\.dll$")
    list(APPEND _bad ${_dll})
  endif()
endforeach()
if(_bad)
  list(JOIN _bad ", " _bad)
  message(FATAL_ERROR "${FILE} imports directly ${_bad}; link the delayed_<name> import library "
                      "instead (cmake/DelayImports.cmake)")
endif()
