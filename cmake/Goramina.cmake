# Helpers shared by every subsystem's CMakeLists.txt.

# goramina_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest executable and registers each of its tests with CTest.
# Tests run in the build folder of the executable; they make their own temporary
# folders for any files they write.
function(goramina_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT GORAMINA_BUILD_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "${T_ENV}")
endfunction()
