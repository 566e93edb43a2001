# Renders a manual page as plain text with CR LF line ends, for readers on
# Windows: in ASCII, or in UTF-8 with a byte-order mark, which the Notepad of
# older Windows needs to read it as UTF-8 rather than in the ANSI code page:
#   cmake -DGROFF=groff -DPAGE=pelorin.1 -DTEXT=pelorin.txt -DENCODING=ascii -P manual_text.cmake
set(device -Tascii)
if(ENCODING STREQUAL "utf8")
  set(device -Tutf8 -Kutf8)
endif()
execute_process(
  COMMAND ${GROFF} -t -man ${device} -P-c -P-b -P-u -rLL=78n -rcR=1
  INPUT_FILE ${PAGE} OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE}: ${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
if(ENCODING STREQUAL "utf8")
  string(ASCII 239 187 191 mark)
  string(PREPEND text "${mark}")
endif()
file(WRITE ${TEXT} "${text}")
