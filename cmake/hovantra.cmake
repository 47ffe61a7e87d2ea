# One static library per subsystem folder, and one GoogleTest binary for the
# folder's *_test.cpp files.  Sources are picked up by pattern so that adding a
# file never needs an edit here.
#
#   hovantra_library(NAME DEPS other_lib ... [EXTRA_LIBS system_lib ...]
#                    [INCLUDES dir ...] [TEST_LIBS lib ...])
#
# Library NAME is built from every *.cpp in the folder except *_test.cpp and
# the files listed in the folder's HOVANTRA_EXCLUDE variable; the test binary
# NAME_test links NAME and GoogleTest and is registered with CTest.
function(hovantra_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_LIBS;TEST_LIBS;INCLUDES" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(lib_sources ${all_sources})
  if(test_sources)
    list(REMOVE_ITEM lib_sources ${test_sources})
  endif()
  foreach(excluded ${HOVANTRA_EXCLUDE})
    list(REMOVE_ITEM lib_sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(lib_sources)
    add_library(${name} STATIC ${lib_sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${ARG_INCLUDES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_EXTRA_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${ARG_INCLUDES})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_EXTRA_LIBS})
  endif()
  if(test_sources)
    add_executable(${name}_test ${test_sources})
    target_link_libraries(${name}_test PRIVATE ${name} ${ARG_TEST_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name}_test COMMAND ${name}_test)
    set_tests_properties(${name}_test PROPERTIES
      ENVIRONMENT "HOVANTRA_BUILD_DIR=${PROJECT_BINARY_DIR};HOVANTRA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 600)
  endif()
endfunction()
