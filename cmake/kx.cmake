# kx_program(NAME SOURCES src... [LIBS lib...])
#
# Builds a program twice from the same objects: NAME in <build>/bin, linked
# with the board's hardware access (i2c-dev, real libgpiod), and, in a build
# with tests, NAME_sim in <build>/sim/bin (file name NAME), linked with the
# simulated board's client (testbed/hwsim).
function(kx_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name}_obj OBJECT ${P_SOURCES})
  target_link_libraries(${name}_obj PUBLIC ${P_LIBS} kx_common kxhw_api)
  add_executable(${name} $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name} PRIVATE ${name}_obj kxhw_board)
  if(NOT BUILD_TESTING)
    return()
  endif()
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

# kx_ktest(NAME SOURCES src... [LIBS lib...] [TSAN])
# A plain C test program of the kernel module's code on the host layer
# (KTEST cases, each run in its own process; kernel/tests/ktest.h): the
# module's objects, the PHY stub and the host layer linked in, output in
# <build>/tests, ctest name kernel.NAME, label unit (and the processor in a
# cross build, where the cases run under the emulator). TSAN: the case also
# runs in the ThreadSanitizer tree (label tsan; a race report aborts the
# case, as the cases end with _exit, which skips the report's exit code).
function(kx_ktest name)
  cmake_parse_arguments(P "TSAN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES} $<TARGET_OBJECTS:kx_pps_host>
                 $<TARGET_OBJECTS:kx_phystub_host>)
  set_target_properties(${name} PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_options(${name} PRIVATE -Wno-unused-parameter)
  target_link_libraries(${name} PRIVATE ${P_LIBS} kx_ktest_support kxhost)
  add_test(NAME kernel.${name} COMMAND ${name})
  set(labels unit)
  if(P_TSAN)
    list(APPEND labels tsan)
    set_tests_properties(kernel.${name} PROPERTIES
      ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:atexit_sleep_ms=0")
  endif()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND labels ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set_tests_properties(kernel.${name} PROPERTIES LABELS "${labels}" TIMEOUT 120)
endfunction()
