# Fails when groff warns about the manual page PAGE; GROFF is groff's path.
if(NOT GROFF)
  message("groff is not installed: the manual page is not checked")
  return()
endif()
execute_process(COMMAND ${GROFF} -ww -z -man ${PAGE}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "groff -ww -z -man ${PAGE} (exit ${result}):\n${output}")
endif()
