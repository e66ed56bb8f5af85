# Delay-import libraries for system libraries that are not on Windows' known-library list.
# A program linked with them imports nothing from those libraries at start; the delay-load
# helper loads each on first use, and src/platform/win32/SystemLibraries.cpp makes it load
# them from the system folder only.
#
# delay_import_library(<name>) defines the imported target delayed_<name> (link it instead of
# <name>). Its definition lists every function of the toolchain's own import library, so a
# function used later is delayed too.
function(delay_import_library name)
  find_library(_plain NAMES ${name} NO_CACHE REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} ${_plain} OUTPUT_VARIABLE _symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]* T [^\n]+" _lines "${_symbols}")
  set(_exports "")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE ".* T " "" _symbol "${_line}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # i686 symbols carry a leading underscore and stdcall's @N; -k below drops the @N
      # from the name the program looks up.
      if(NOT _symbol MATCHES "^_")
        continue()
      endif()
      string(SUBSTRING "${_symbol}" 1 -1 _symbol)
    endif()
    list(APPEND _exports "${_symbol}")
  endforeach()
  list(REMOVE_DUPLICATES _exports)
  if(NOT _exports)
    message(FATAL_ERROR "no functions found in ${_plain}")
  endif()
  list(JOIN _exports "\n" _body)

  set(_dir ${CMAKE_BINARY_DIR}/delayimports)
  set(_def ${_dir}/${name}.def)
  set(_lib ${_dir}/lib${name}_delayed.a)
  # Written only when changed, so the library is rebuilt (and the programs relinked) only then.
  file(CONFIGURE OUTPUT ${_def} CONTENT "LIBRARY \"${name}.dll\"\nEXPORTS\n${_body}\n")
  if(NOT EXISTS ${_lib} OR ${_def} IS_NEWER_THAN ${_lib})
    set(_kill_at "")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(_kill_at -k)
    endif()
    execute_process(COMMAND ${CMAKE_DLLTOOL} ${_kill_at} --input-def ${_def} --output-delaylib ${_lib}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(delayed_${name} STATIC IMPORTED GLOBAL)
  set_target_properties(delayed_${name} PROPERTIES IMPORTED_LOCATION ${_lib})
endfunction()

# check_direct_imports(<target>): the build of <target> fails when its import table names a
# library beyond the known system libraries and the C runtime.
function(check_direct_imports target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFILE=$<TARGET_FILE:${target}>
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckImports.cmake
    VERBATIM)
endfunction()
