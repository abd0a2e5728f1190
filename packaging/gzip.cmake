# cmake -DIN=file -DOUT=file.gz -P gzip.cmake: compresses as Debian wants it, without a
# name or time stamp in the header, so the same input gives the same bytes.
execute_process(COMMAND gzip -9nc INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "gzip ${IN}: ${rc}")
endif()
