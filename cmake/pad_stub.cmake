# Pads the linked stub with zero bytes to exactly PAYLOAD_OFFSET bytes, the
# file offset at which the payload starts. Fails when the image is larger.
# Arguments: -DIN=linked.exe -DOUT=padded.exe -DSIZE=40960
file(SIZE "${IN}" linked)
if(linked GREATER SIZE)
  math(EXPR over "${linked} - ${SIZE}")
  message(FATAL_ERROR "popbox-stub: the linked image is ${linked} bytes, ${over} bytes "
                      "more than the payload offset ${SIZE}; make the stub smaller")
endif()
message(STATUS "popbox-stub: linked ${linked} bytes, padded to ${SIZE}")
file(COPY_FILE "${IN}" "${OUT}.tmp")
execute_process(COMMAND truncate -s ${SIZE} "${OUT}.tmp" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "popbox-stub: cannot pad ${OUT}")
endif()
file(RENAME "${OUT}.tmp" "${OUT}")
