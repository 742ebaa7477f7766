# hm_add_tests(NAME SOURCES... LIBS...): one GoogleTest program registered with CTest.
# Every test sees HM_SHARED_DIR (real hives) and HM_SOURCE_DIR (project data) as definitions.
function(hm_add_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT HM_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} hm_testing GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "HM_TEST_TOOLS_DIR=${CMAKE_BINARY_DIR}")
endfunction()
