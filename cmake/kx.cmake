# kx_program(NAME SOURCES src... [LIBS lib...])
#
# Builds a program twice from the same objects: NAME in <build>/bin, linked
# with the board's hardware access (i2c-dev, real libgpiod), and NAME_sim in
# <build>/sim/bin (file name NAME), linked with the simulated board's client.
function(kx_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name}_obj OBJECT ${P_SOURCES})
  target_link_libraries(${name}_obj PUBLIC ${P_LIBS} kx_common kxhw_api)
  add_executable(${name} $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name} PRIVATE ${name}_obj kxhw_board)
  add_executable(${name}_sim $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name}_sim PRIVATE ${name}_obj kxhw_sim)
  set_target_properties(${name}_sim PROPERTIES
    OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${KX_SIM_BIN_DIR})
endfunction()

# kx_gtest(NAME SOURCES src... [LIBS lib...] [LABELS label...])
# Every discovered case gets the LABELS (default: unit).
function(kx_gtest name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT P_LABELS)
    set(P_LABELS unit)
  endif()
  if(NOT BUILD_TESTING)
    # defined for the directories that refer to it, never built
    add_executable(${name} EXCLUDE_FROM_ALL ${P_SOURCES})
    return()
  endif()
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${P_LABELS}")
endfunction()
