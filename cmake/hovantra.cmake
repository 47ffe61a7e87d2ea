# One static library per subsystem folder, and one GoogleTest binary for the
# folder's *_test.cpp files.  Sources are picked up by pattern so that adding a
# file never needs an edit here.
#
#   hovantra_library(NAME DEPS other_lib ... [EXTRA_LIBS system_lib ...]
#                    [INCLUDES dir ...] [TEST_LIBS lib ...] [SUBDIRS dir ...]
#                    [PROGRAM name [MAIN file]])
#
# Library NAME is built from every *.cpp in the folder (and in its SUBDIRS)
# except the tests, the test support and the program's main file.
# *_test_support.cpp files make NAME_test_support, which the folder's tests
# link and the tests of folders above may name in TEST_LIBS.  The test binary NAME_test links NAME and GoogleTest and is
# registered with CTest.  PROGRAM builds the executable name from MAIN
# (main.cpp unless given) into the top of the build tree.
function(hovantra_library name)
  cmake_parse_arguments(ARG "" "PROGRAM;MAIN" "DEPS;EXTRA_LIBS;TEST_LIBS;INCLUDES;SUBDIRS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT ARG_MAIN)
    set(ARG_MAIN main.cpp)
  endif()
  set(all_sources)
  set(test_sources)
  set(support_sources)
  foreach(source_dir ${dir} ${ARG_SUBDIRS})
    get_filename_component(source_dir ${source_dir} ABSOLUTE BASE_DIR ${dir})
    file(GLOB found CONFIGURE_DEPENDS ${source_dir}/*.cpp)
    list(APPEND all_sources ${found})
    file(GLOB found CONFIGURE_DEPENDS ${source_dir}/*_test.cpp)
    list(APPEND test_sources ${found})
    file(GLOB found CONFIGURE_DEPENDS ${source_dir}/*_test_support.cpp)
    list(APPEND support_sources ${found})
  endforeach()
  set(lib_sources ${all_sources})
  foreach(other ${test_sources} ${support_sources} ${dir}/${ARG_MAIN})
    list(REMOVE_ITEM lib_sources ${other})
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
  if(support_sources)
    add_library(${name}_test_support STATIC ${support_sources})
    target_link_libraries(${name}_test_support PUBLIC ${name} GTest::gtest)
  endif()
  if(test_sources)
    add_executable(${name}_test ${test_sources})
    target_link_libraries(${name}_test PRIVATE ${name} ${ARG_TEST_LIBS} GTest::gtest GTest::gtest_main)
    if(support_sources)
      target_link_libraries(${name}_test PRIVATE ${name}_test_support)
    endif()
    add_test(NAME ${name}_test COMMAND ${name}_test)
    set_tests_properties(${name}_test PROPERTIES
      ENVIRONMENT "HOVANTRA_BUILD_DIR=${PROJECT_BINARY_DIR};HOVANTRA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 600)
  endif()
  if(ARG_PROGRAM)
    add_executable(${ARG_PROGRAM} ${dir}/${ARG_MAIN})
    target_link_libraries(${ARG_PROGRAM} PRIVATE ${name})
    set_target_properties(${ARG_PROGRAM} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  endif()
endfunction()
