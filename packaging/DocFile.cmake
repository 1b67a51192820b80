# Writes one compressed documentation file of the package, compressed as Debian wants it:
# gzip -9, without a name or time stamp, so that the same source gives the same file.
#   cmake -DINPUT=<file> -DOUTPUT=<file.gz> [-DMD2MAN=<go-md2man> "-DTITLE=<.TH words>"]
#         -P DocFile.cmake
# With MD2MAN, INPUT is markdown that becomes a manual page with the title line TITLE: the
# markdown stays readable as a document of its own, and the version comes from the build.
if(MD2MAN)
  string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
  file(READ "${INPUT}" text)
  file(WRITE "${page}.md" "% ${TITLE}\n\n${text}")
  execute_process(COMMAND "${MD2MAN}" -in "${page}.md" -out "${page}" COMMAND_ERROR_IS_FATAL ANY)
  set(INPUT "${page}")
endif()
execute_process(COMMAND gzip -9 -n -c "${INPUT}" OUTPUT_FILE "${OUTPUT}"
  COMMAND_ERROR_IS_FATAL ANY)
