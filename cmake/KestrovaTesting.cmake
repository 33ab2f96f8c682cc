# kestrova_test_suite(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest binary per subsystem. Every test case becomes its own ctest entry, so
# `ctest -j` spreads slow cases (real-time serial waits, second processes) over the cores.
# Tests run with the offscreen Qt platform and their own program and Windows folders below
# the build tree, so a test run never touches the user's settings.
function(kestrova_test_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gtest)
  set(sandbox ${CMAKE_BINARY_DIR}/test-home/${name})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      TIMEOUT 300)
  # gtest_discover_tests splits a list-valued property at its semicolons, so the environment
  # is set by a script that ctest runs after the discovered tests are known.
  set(environment "QT_QPA_PLATFORM=offscreen;KESTROVA_PROGRAM_DIR=${sandbox}/program;KESTROVA_WINDOWS_DIR=${sandbox}/windows;KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR};KESTROVA_BINARY_DIR=${CMAKE_BINARY_DIR}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
  file(WRITE ${script}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${environment}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
