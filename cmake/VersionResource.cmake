# version_resource(<target> <file name> <description>): a VERSIONINFO resource with the
# project's version. CompanyName and ProductName are reserved as 63 blanks each, which
# `publish brand --company --product` fills in a copy of the program file.
string(REPEAT " " 63 VERSION_RESERVED)
set(VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../resources/version.rc.in)
function(version_resource target filename description)
  set(VERSION_FILE_NAME ${filename})
  set(VERSION_DESCRIPTION ${description})
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/version/${target}.rc)
  configure_file(${VERSION_RESOURCE_TEMPLATE} ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
