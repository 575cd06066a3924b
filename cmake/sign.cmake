# Authenticode-signs FILE in place with osslsigncode (TOOL), the PEM
# certificate CERT and key KEY, without a time-stamp server. A fixed signing
# TIME (unix time; empty: now) makes the same input give the same signed bytes.
set(signed ${FILE}.signed)
set(time_args)
if(NOT TIME STREQUAL "")
  set(time_args -time ${TIME})
endif()
file(REMOVE ${signed})
execute_process(COMMAND ${TOOL} sign -certs ${CERT} -key ${KEY} -h sha256 ${time_args}
                        -in ${FILE} -out ${signed}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE ${signed} ${FILE})  # an unsigned file must not pass for a built one
  message(FATAL_ERROR "signing ${FILE} failed: ${output}")
endif()
file(RENAME ${signed} ${FILE})
