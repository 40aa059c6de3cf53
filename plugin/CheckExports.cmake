# Fails when the plugin file exports anything but its entry points (the seven
# the program binds and the optional ones of file managers) or needs a Qt
# library. Run as: cmake -DPLUGIN=<file> -P CheckExports.cmake
if(NOT PLUGIN OR NOT EXISTS "${PLUGIN}")
  message(FATAL_ERROR "CheckExports: no plugin file '${PLUGIN}'")
endif()
find_program(NM_TOOL nm REQUIRED)
find_program(READELF_TOOL readelf REQUIRED)

execute_process(COMMAND ${NM_TOOL} -D --defined-only "${PLUGIN}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "CheckExports: nm failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
set(expected FsDeleteFile FsDisconnect FsExecuteFile FsFindClose FsFindFirst FsFindNext
  FsGetDefRootName FsGetFile FsInit FsMkDir FsPutFile FsRemoveDir FsRenMovFile
  FsSetDefaultParams FsSetTime)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "CheckExports: ${PLUGIN} exports '${names}', expected '${expected}'")
endif()

execute_process(COMMAND ${READELF_TOOL} -d "${PLUGIN}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "CheckExports: readelf failed on ${PLUGIN}")
endif()
if(dynamic MATCHES "libQt")
  message(FATAL_ERROR "CheckExports: ${PLUGIN} needs a Qt library")
endif()
