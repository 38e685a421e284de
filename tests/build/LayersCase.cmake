# Configures and builds the layers fixture with one fault. Without a fault both steps must pass;
# with one, STEP must fail and its output must match EXPECTED.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${FIXTURE} -B ${WORK} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${COMPILER}
                        -DFAULT=${FAULT} -DMORDALE_CMAKE=${MORDALE_CMAKE}
                RESULT_VARIABLE configured OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(failed_step)
if(NOT configured EQUAL 0)
  set(failed_step configure)
else()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}
                  RESULT_VARIABLE built OUTPUT_VARIABLE build_output ERROR_VARIABLE build_output)
  string(APPEND output "${build_output}")
  if(NOT built EQUAL 0)
    set(failed_step build)
  endif()
endif()
if(NOT "${failed_step}" STREQUAL "${STEP}")
  message(FATAL_ERROR "fault '${FAULT}': expected the step '${STEP}' to fail, "
                      "but the failing step was '${failed_step}':\n${output}")
endif()
# The configuration's messages break long lines.
string(REGEX REPLACE "\n  " " " output "${output}")
if(STEP AND NOT output MATCHES "${EXPECTED}")
  message(FATAL_ERROR "fault '${FAULT}': the failure does not name '${EXPECTED}':\n${output}")
endif()
file(REMOVE_RECURSE ${WORK})
