# Runs one fuzz target for SECONDS over a fresh copy of its seed corpus.
# Usage: cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=... -P runfuzz.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY "${SEEDS}/" DESTINATION "${WORK}/corpus")
execute_process(
    COMMAND "${FUZZER}" -max_total_time=${SECONDS} -print_final_stats=1
            -artifact_prefix=${WORK}/ "${WORK}/corpus"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}")
endif()
