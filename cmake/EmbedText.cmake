# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DHEADER=include -P EmbedText.cmake
# Writes the file's text as a constant char array, in pieces below every
# compiler's limit on one string literal.
file(READ "${INPUT}" text)
string(LENGTH "${text}" length)
set(body "")
set(piece 4000)
foreach(offset RANGE 0 ${length} ${piece})
  string(SUBSTRING "${text}" ${offset} ${piece} chunk)
  string(APPEND body "    R\"VXEMBED(${chunk})VXEMBED\"\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT}; edit that file.\n#include \"${HEADER}\"\n\nconst char ${SYMBOL}[] =\n${body};\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
