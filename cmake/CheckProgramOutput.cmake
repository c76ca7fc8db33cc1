# Runs a program and fails unless it ends with status 0 and writes exactly one expected line:
#   cmake -D PROGRAM=FILE [-D EMULATOR=a|b|c] [-D ARGS=a|b] -D EXPECTED=TEXT -P CheckProgramOutput.cmake
# EMULATOR and ARGS are lists with "|" between items (a ";" would split them on the way here).
cmake_minimum_required(VERSION 3.22)
if(NOT PROGRAM OR NOT DEFINED EXPECTED)
    message(FATAL_ERROR "usage: cmake -D PROGRAM=FILE -D EXPECTED=TEXT -P CheckProgramOutput.cmake")
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" arguments "${ARGS}")
execute_process(COMMAND ${emulator} ${PROGRAM} ${arguments}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 60)
# The Windows console program writes text-mode line ends.
string(REPLACE "\r\n" "\n" output "${output}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${arguments}: exit status ${status}\n${output}${errors}")
endif()
if(NOT output STREQUAL "${EXPECTED}\n")
    message(FATAL_ERROR "${PROGRAM} ${arguments}: expected \"${EXPECTED}\", got \"${output}\"${errors}")
endif()
message(STATUS "${PROGRAM} ${arguments}: ${EXPECTED}")
