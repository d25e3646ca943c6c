# SPDX-License-Identifier: MIT
# Runs ZELTOCTL with ARGS and fails unless it exits with EXPECT.
execute_process(COMMAND ${ZELTOCTL} ${ARGS} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL EXPECT)
  message(FATAL_ERROR "exit ${code}, expected ${EXPECT}\nstdout: ${out}\nstderr: ${err}")
endif()
message(STATUS "exit ${code}: ${err}")
