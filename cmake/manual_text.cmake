# Renders a manual page as plain text with CR LF line ends, for readers on
# Windows:
#   cmake -DGROFF=groff -DPAGE=pelorin.1 -DTEXT=pelorin.txt -P manual_text.cmake
execute_process(
  COMMAND ${GROFF} -t -man -Tascii -P-c -P-b -P-u -rLL=78n -rcR=1
  INPUT_FILE ${PAGE} OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE}: ${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
