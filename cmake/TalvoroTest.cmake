# talvoro_add_test(name LABEL unit|integration|x11|audio|model SOURCES ... LIBS ... [TIMEOUT s])
function(talvoro_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/tsan_options.cpp
    ${CMAKE_SOURCE_DIR}/src/base/leak_suppressions.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TALVORO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TALVORO_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
