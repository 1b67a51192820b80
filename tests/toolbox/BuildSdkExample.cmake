# Installs the SDK of a build into a fresh prefix and builds the example toolbox project
# against it, the way a toolbox author outside this tree would:
#   cmake -DBUILD_DIR=... -DEXAMPLE_DIR=... -DWORK_DIR=... -DCXX_COMPILER=... [-DTOOLCHAIN=...]
#         -P <this file>
# The toolbox ends up as ${WORK_DIR}/build/echo.so (echo.dll with the mingw toolchain).
foreach(variable BUILD_DIR EXAMPLE_DIR WORK_DIR CXX_COMPILER)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix --component sdk
  COMMAND_ERROR_IS_FATAL ANY)
# A cross build takes the toolchain of the build whose SDK it installs.
set(_toolchain)
if(TOOLCHAIN)
  set(_toolchain --toolchain ${TOOLCHAIN})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/build -G Ninja ${_toolchain}
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Wpedantic -Werror"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build COMMAND_ERROR_IS_FATAL ANY)
