# Writes the one file BetterDiscord loads from the plugin's sources, in order: they share one scope,
# so a later file uses what an earlier one defines.
#   cmake -DOUT=<file> -P assemble.cmake
set(TALLYBELL_SOURCES header text link discord voice_feed rule card settings plugin)
if(NOT OUT)
  message(FATAL_ERROR "assemble.cmake: pass -DOUT=<file>")
endif()
set(text "")
foreach(name ${TALLYBELL_SOURCES})
  file(READ ${CMAKE_CURRENT_LIST_DIR}/src/${name}.js part)
  string(APPEND text "${part}\n")
endforeach()
string(REGEX REPLACE "\n+$" "\n" text "${text}")
file(WRITE ${OUT}.tmp "${text}")
file(RENAME ${OUT}.tmp ${OUT})
