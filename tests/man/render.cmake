# Renders every manual page in MANDIR/man1 with all of groff's warnings on
# and fails on any warning. Run with -DGROFF=<groff> -DMANDIR=<directory>.
file(GLOB pages ${MANDIR}/man1/*.1)
if(NOT pages)
  message(FATAL_ERROR "no manual pages in ${MANDIR}/man1")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND ${GROFF} -man -ww -z -s -I ${MANDIR} ${page}
                  RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: groff status ${status}\n${warnings}")
  endif()
  message(STATUS "${page}: no warnings")
endforeach()
