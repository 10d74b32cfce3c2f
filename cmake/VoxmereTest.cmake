# voxmere_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest executable, registered with CTest. Windows builds run it
# under Wine through the cross-compiling emulator.
function(voxmere_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "VOXMERE_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VOXMERE_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_LABELS)
    set_property(TEST ${name} APPEND PROPERTY LABELS ${T_LABELS})
  endif()
endfunction()
