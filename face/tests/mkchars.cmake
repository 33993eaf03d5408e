# Makes every test character the face tests use: one sound character per
# character type and the damaged variants of type 4.
execute_process(COMMAND ${PY} ${MKCHAR} --suite ${OUT} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "mkchar --suite ${OUT} failed")
endif()
