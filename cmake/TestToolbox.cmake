# wardex_add_test_toolbox(<name> [RESULT <code>] [API_VERSION <version>] [NO_EXPORT]
#                         [NULL_TABLE] [NULL_ENTRIES])
# One toolbox library for tests and benchmarks, <name>.so in the build's bin folder, built
# from tests/toolbox/TestToolbox.cpp with the behaviour the options choose.
function(wardex_add_test_toolbox name)
  cmake_parse_arguments(ARG "NO_EXPORT;NULL_TABLE;NULL_ENTRIES" "RESULT;API_VERSION" ""
    ${ARGN})
  add_library(${name} MODULE ${PROJECT_SOURCE_DIR}/tests/toolbox/TestToolbox.cpp)
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
  target_link_libraries(${name} PRIVATE wardex_sdk)
  target_compile_definitions(${name} PRIVATE TEST_TOOLBOX_NAME="${name}")
  foreach(option RESULT API_VERSION)
    if(DEFINED ARG_${option})
      target_compile_definitions(${name} PRIVATE TEST_TOOLBOX_${option}=${ARG_${option}})
    endif()
  endforeach()
  foreach(option NO_EXPORT NULL_TABLE NULL_ENTRIES)
    if(ARG_${option})
      target_compile_definitions(${name} PRIVATE TEST_TOOLBOX_${option})
    endif()
  endforeach()
endfunction()
