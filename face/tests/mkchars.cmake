# Makes every test character the face tests use: one sound character per
# character type and the damaged variants of type 4.
set(types 0 1 2 3 4 5 6 7 8 9)
foreach(t ${types})
  execute_process(COMMAND ${PY} ${MKCHAR} --type ${t} --out ${OUT}/type${t} RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "mkchar --type ${t} failed")
  endif()
endforeach()
foreach(d truncated-model bad-face-index huge-count missing-model missing-images missing-facecom
          short-facecom missing-body bad-bone-index crlf missing-neutral-pose short-tongue)
  file(REMOVE_RECURSE ${OUT}/damaged-${d})
  execute_process(COMMAND ${PY} ${MKCHAR} --type 4 --out ${OUT}/damaged-${d} --damage ${d}
    RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "mkchar --damage ${d} failed")
  endif()
endforeach()
