# cmake -DGROFF=... -DINPUT=tarvel.1 -DOUTPUT=tarvel.txt -P manual_text.cmake:
# the manual page as plain ASCII text with CR LF line ends, which Windows
# shows as it is (it has no reader of roff).
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${INPUT}
                OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff could not render ${INPUT} (status ${status})")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
