# Runs pakforge for pakforge_add_image: cmake -DPAKFORGE=<program>
# -DMAP=<file> -DCONFIG=<file> -DELF=<file> -DRESOURCES=<file>
# -DOUTPUT=<file> -P pakforgeRun.cmake
#
# pakforge writes the image even when it then exits 250 (the image does not
# fit the flash), as a plain command line expects. In a build, though, a
# failed step must leave nothing that a later flash step could take for the
# current firmware: the image is removed before the run, and again when
# pakforge exits with any status but 0, and the step fails.
foreach(variable PAKFORGE MAP CONFIG ELF RESOURCES OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "pakforgeRun.cmake: ${variable} is not set")
  endif()
endforeach()
file(REMOVE "${OUTPUT}")
execute_process(
  COMMAND "${PAKFORGE}" -m "${MAP}" -c "${CONFIG}" -f "${ELF}" -r "${RESOURCES}" -o "${OUTPUT}"
  RESULT_VARIABLE status)
if(NOT status STREQUAL "0")
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "pakforge ended with status ${status}; no image is left at ${OUTPUT}")
endif()
