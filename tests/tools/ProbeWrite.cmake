# Runs `torvane-probe write INPUT` and compares standard output with EXPECTED byte for byte, and the exit
# status with EXIT.
execute_process(COMMAND ${PROBE} write ${INPUT} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/probe-actual.txt "${actual}")
    message(FATAL_ERROR "output differs from ${EXPECTED}; got:\n${actual}\nstderr:\n${errors}")
endif()
if(NOT status EQUAL EXIT)
    message(FATAL_ERROR "exit status ${status}, expected ${EXIT}; stderr:\n${errors}")
endif()
