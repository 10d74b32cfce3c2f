# voxmere_delay_import(<name> <dll> <function>...): a library target
# voxmere_delay_<name> to link in place of <name>, through which the DLL is
# loaded at the first call of one of its functions rather than before main.
# Under Wine every DLL loaded at start-up costs milliseconds; these are the
# ones the first work pass never calls (the settings window's, the text
# engine's, the HTTP client's). A function missing from the list fails the
# link, so the list is kept whole.
function(voxmere_delay_import name dll)
  set(target voxmere_delay_${name})
  if(MSVC)
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${name} delayimp)
    target_link_options(${target} INTERFACE /DELAYLOAD:${dll})
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/delay_load)
  list(JOIN ARGN "\n" exports)
  # Written only when it changes, so the library is not rebuilt at every configure.
  file(GENERATE OUTPUT ${dir}/${name}.def CONTENT "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
  add_custom_command(OUTPUT ${dir}/lib${name}_delay.a
    COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${name}.def --dllname ${dll} --output-delaylib ${dir}/lib${name}_delay.a
    DEPENDS ${dir}/${name}.def
    VERBATIM)
  add_custom_target(${target}_archive DEPENDS ${dir}/lib${name}_delay.a)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${dir}/lib${name}_delay.a)
  add_dependencies(${target} ${target}_archive)
endfunction()

voxmere_delay_import(comctl32 comctl32.dll InitCommonControlsEx)
voxmere_delay_import(comdlg32 comdlg32.dll ChooseColorW)
voxmere_delay_import(dwrite dwrite.dll DWriteCreateFactory)
voxmere_delay_import(winhttp winhttp.dll
  WinHttpCloseHandle WinHttpConnect WinHttpOpen WinHttpOpenRequest WinHttpQueryDataAvailable WinHttpReadData
  WinHttpReceiveResponse WinHttpSendRequest WinHttpSetOption WinHttpSetTimeouts)
