# Runs a program and checks how it ends: cmake -DPROGRAM=<path> [-DARGS=a;b]
# -DSTATUS=<exit status> [-DOUTPUT=<regex the output, stdout and stderr
# together, must match>] -P expect_exit.cmake. For tests of programs that
# must fail, and fail the right way: a crash or another status does not pass.
execute_process(COMMAND ${PROGRAM} ${ARGS} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}, not ${STATUS}\n${out}${err}")
endif()
if(DEFINED OUTPUT AND NOT "${out}${err}" MATCHES "${OUTPUT}")
  message(FATAL_ERROR "${PROGRAM} did not say '${OUTPUT}':\n${out}${err}")
endif()
