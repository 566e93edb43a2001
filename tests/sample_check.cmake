# Regenerates the sample outbound and compares it with the committed files.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${PYTHON} ${SOURCE}/tools/make_sample_outbound.py ${WORK}
                RESULT_VARIABLE generated)
if(NOT generated EQUAL 0)
  message(FATAL_ERROR "the sample generator failed")
endif()
file(GLOB committed RELATIVE ${SOURCE}/sample/outbound ${SOURCE}/sample/outbound/*)
file(GLOB made RELATIVE ${WORK} ${WORK}/*)
if(NOT committed STREQUAL made)
  message(FATAL_ERROR "sample names differ: ${committed} vs ${made}")
endif()
foreach(name IN LISTS committed)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE}/sample/outbound/${name}
                  ${WORK}/${name} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "sample/outbound/${name} is not what the generator writes")
  endif()
endforeach()
