# linemint_add_test(NAME SOURCES src... LIBS lib...)
# One GoogleTest executable; every test case becomes a CTest test.
function(linemint_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT LINEMINT_TESTS)
    return()
  endif()
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# linemint_add_fuzzer(NAME SOURCES src... LIBS lib... CORPUS dir)
# With LINEMINT_FUZZ: a libFuzzer binary NAME. Always (when tests are on): a
# unit test NAME_replay that feeds every file of CORPUS to the same body.
# The body is `extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t)`.
function(linemint_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(LINEMINT_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set_property(GLOBAL APPEND PROPERTY LINEMINT_FUZZERS "${name}|${ARG_CORPUS}")
  elseif(LINEMINT_TESTS)
    add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${ARG_CORPUS})
  endif()
endfunction()
