# harvesta_add_gtest(name SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT VAR=VALUE...]): one
# GoogleTest executable, its cases discovered by ctest, labelled with its name and the labels
# given, and run with that environment; under the win64 preset it is linked statically and run
# by Wine.
include(GoogleTest)

function(harvesta_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  set(properties LABELS ${name})
  if(T_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ${properties})
  if(T_LABELS)
    # A list-valued property does not survive the discovery's own argument lists, so further
    # labels are set by a script that ctest runs after the discovered cases (whose names it
    # leaves in <name>_TESTS).
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${labels_script}
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${name};${T_LABELS}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
  endif()
endfunction()
