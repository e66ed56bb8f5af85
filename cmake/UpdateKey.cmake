# update_public_key_hex(<PEM file> <out var>): the SubjectPublicKeyInfo of an ECDSA P-256
# public key PEM file as hex DER, for the launcher's build. Stops the configuration with a
# message that says what is wrong when the file is missing or holds anything else.
#
#   cmake -DUPDATE_PUBLIC_KEY=FILE -P cmake/UpdateKey.cmake   checks a file the same way
function(update_public_key_hex file out)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY: no such file: ${file}")
  endif()
  find_program(OPENSSL_EXECUTABLE openssl)
  if(NOT OPENSSL_EXECUTABLE)
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY needs the openssl command to read the key (scripts/setup installs it)")
  endif()
  string(MD5 _tag "${file}")
  set(_der "${CMAKE_BINARY_DIR}/CMakeFiles/update-key-${_tag}.der")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/CMakeFiles")
  execute_process(COMMAND "${OPENSSL_EXECUTABLE}" pkey -pubin -in "${file}" -outform DER -out "${_der}"
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    string(STRIP "${_err}" _err)
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY: ${file} is not a PEM public key "
                        "(write one with `publish keygen` or `openssl ec -pubout`):\n${_err}")
  endif()
  file(READ "${_der}" _hex HEX)
  file(REMOVE "${_der}")
  # id-ecPublicKey on prime256v1 with an uncompressed point: a fixed 26-byte header, 65 bytes.
  set(_header "3059301306072a8648ce3d020106082a8648ce3d030107034200")
  if(NOT _hex MATCHES "^${_header}04[0-9a-f]+$")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY: ${file} is not an ECDSA P-256 (prime256v1) public key")
  endif()
  string(LENGTH "${_hex}" _length)
  if(NOT _length EQUAL 182)
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY: ${file} is not an ECDSA P-256 (prime256v1) public key")
  endif()
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  endif()
  set(${out} "${_hex}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  update_public_key_hex("${UPDATE_PUBLIC_KEY}" _hex)
  message(STATUS "P-256 public key ${_hex}")
endif()
