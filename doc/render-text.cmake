# Renders the manual page PAGE as ASCII text into TEXT, with CR LF line ends.
# GROFF and COL are the programs' paths.
execute_process(COMMAND ${GROFF} -man -Tascii -P-c ${PAGE}
                COMMAND ${COL} -bx
  RESULTS_VARIABLE results OUTPUT_VARIABLE text ERROR_VARIABLE errors)
if(NOT results MATCHES "^0;0$" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "Rendering ${PAGE} failed (${results}):\n${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
