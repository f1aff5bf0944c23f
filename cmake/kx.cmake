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

# kx_gtest(NAME SOURCES src... [LIBS lib...] [LABELS label...] [HOST_ONLY])
# Every discovered case gets the LABELS (default: unit). In a cross build
# (the aarch64 preset) the cases run under the emulator and also get the
# target's processor as a label (aarch64); HOST_ONLY marks a test that starts
# other programs of the build itself (simboard), which only run natively.
function(kx_gtest name)
  cmake_parse_arguments(P "HOST_ONLY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT P_LABELS)
    set(P_LABELS unit)
  endif()
  if(CMAKE_CROSSCOMPILING AND NOT P_HOST_ONLY)
    list(APPEND P_LABELS ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(CMAKE_CROSSCOMPILING AND P_HOST_ONLY)
    return()   # built (it must compile for the board too) but not run
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # The labels are set by a file ctest reads after the discovered cases
  # (gtest_discover_tests' PROPERTIES loses the separators of a label list).
  # Under the emulator a case that stalls fails after a generous cap instead
  # of holding the run.
  set(props "LABELS \"${P_LABELS}\"")
  if(CMAKE_CROSSCOMPILING)
    string(APPEND props " TIMEOUT 300")
  endif()
  set(label_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${label_file} "foreach(t IN LISTS ${name}_TESTS)
  set_tests_properties(\"\${t}\" PROPERTIES ${props})
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_file})
endfunction()
