# The collection generator answers --help with its usage and writes nothing; a call without an
# output file is refused with the usage. Run as: cmake -DGENERATOR=<program> -DWORK=<folder> -P <this>.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${GENERATOR}" --help WORKING_DIRECTORY "${WORK}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(GLOB written "${WORK}/*")
if(NOT result EQUAL 0 OR NOT output MATCHES "Usage: .*--folders <N>.*OUTPUT" OR written)
    message(FATAL_ERROR "--help: exit ${result}, output:\n${output}${errors}\nfiles written: ${written}")
endif()
execute_process(COMMAND "${GENERATOR}" --folders 3 WORKING_DIRECTORY "${WORK}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(GLOB written "${WORK}/*")
if(NOT result EQUAL 2 OR NOT errors MATCHES "Usage: " OR written)
    message(FATAL_ERROR "no output file: exit ${result}, errors:\n${errors}\nfiles written: ${written}")
endif()
