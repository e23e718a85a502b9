# Build steps that need a pipe, as a script: cmake -DSTEP=... -DIN=... -DOUT=... -P render.cmake
#   STEP=gzip  OUT is IN compressed the way Debian ships documentation: maximal, and without
#              the name and time stamp that would make two builds of one source differ.
#   STEP=html  OUT is the man page IN rendered as a web page, without groff's time stamp.
if(STEP STREQUAL "gzip")
  execute_process(COMMAND gzip -9 -n -c ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE failed)
elseif(STEP STREQUAL "html")
  execute_process(COMMAND groff -man -Thtml -P-r ${IN} OUTPUT_VARIABLE html ERROR_VARIABLE errors
                  RESULT_VARIABLE failed)
  if(errors)
    message(FATAL_ERROR "groff on ${IN}: ${errors}")
  endif()
  string(REGEX REPLACE "<!-- CreationDate:[^\n]*-->\n" "" html "${html}")
  file(WRITE ${OUT} "${html}")
else()
  message(FATAL_ERROR "render.cmake: unknown STEP '${STEP}'")
endif()
if(failed)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "render.cmake: ${STEP} of ${IN} failed: ${failed}")
endif()
