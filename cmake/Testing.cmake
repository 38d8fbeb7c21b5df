# harvesta_add_gtest(name SOURCES ... [LIBS ...] [ENVIRONMENT VAR=VALUE...]): one GoogleTest
# executable, its cases discovered by ctest and run with that environment; under the win64
# preset it is linked statically and run by Wine.
include(GoogleTest)

function(harvesta_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${name} ENVIRONMENT "${T_ENVIRONMENT}")
endfunction()
