# Installs the build into a fresh prefix, then configures and builds tests/install/consumer
# against it with the same toolchain. Fails on the first step that fails.
set(work ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${work})

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/prefix)
step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${work}/build
     -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${work}/prefix
     -DCMAKE_BUILD_TYPE=Release)
step(${CMAKE_COMMAND} --build ${work}/build)
if(NOT EXISTS ${work}/build/consumer.exe)
  message(FATAL_ERROR "no consumer.exe was built")
endif()
message(STATUS "consumer.exe built against ${work}/prefix")
