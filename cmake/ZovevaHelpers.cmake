# Helpers shared by every folder's CMakeLists.txt.

# Warnings for code we write; third-party and generated code is left alone.
function(zoveva_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
  if(ZOVEVA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zoveva_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per folder; its headers are included as "folder/Header.h" from the source root.
function(zoveva_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  zoveva_warnings(${name})
endfunction()

# zoveva_test(NAME SOURCES ... LIBS ... [LABELS ...] [GUI] [TIMEOUT s] [ENVIRONMENT ...])
# A GoogleTest executable under build/tests, its cases registered with CTest one by one.
# GUI tests run on Qt's offscreen platform so they need no display.
function(zoveva_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT ZOVEVA_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE zoveva_gui_test_main)
  else()
    target_link_libraries(${name} PRIVATE zoveva_test_main)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  zoveva_warnings(${name})
  set(env "ZOVEVA_BIN_DIR=${ZOVEVA_BIN_DIR}" "ZOVEVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${ARG_ENVIRONMENT})
  if(ARG_GUI)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  list(LENGTH ARG_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "zoveva_test(${name}): give one label; discovered tests cannot carry a list")
  endif()
  # gtest_discover_tests (CMake 3.25) splits list-valued properties such as ENVIRONMENT, so the
  # environment is given through env(1) as the test launcher, for discovery and for every run.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "env;${env}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT})
endfunction()

# zoveva_fuzz_target(NAME SOURCES ... LIBS ...)
# With ZOVEVA_FUZZ (clang): a libFuzzer binary under build/fuzz.
# Otherwise: the same entry point linked to a replay driver that runs every file of
# tests/fuzz/corpus/NAME once, registered as a CTest test, so the corpus guards against regressions.
function(zoveva_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  zoveva_warnings(${name})
  if(ZOVEVA_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    target_link_libraries(${name} PRIVATE zoveva_fuzz_replay)
    add_test(NAME fuzz-replay.${name}
      COMMAND ${name} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    set_tests_properties(fuzz-replay.${name} PROPERTIES LABELS "unit;fuzz" TIMEOUT 120)
  endif()
endfunction()
