# kelvo_add_test(name SOURCES files... [LIBRARIES targets...] [LABELS labels...]
#                [QT_MAIN | OWN_MAIN] [WHOLE] [PROPERTIES name value...])
#
# One test program and its ctest entries. The main is googletest's, or with QT_MAIN the shared
# one that makes the QApplication widgets need, or with OWN_MAIN the program's own. Each test
# case becomes a ctest entry of its own; WHOLE makes the program one entry instead. LABELS
# may be several: gtest_discover_tests would flatten such a list, so labels and PROPERTIES
# are set on the discovered tests once they are known. Widgets always draw offscreen.
#
# A tree that cannot run some labels' tests (a sanitizer that cannot watch the libraries they
# use) names them in KELVO_TESTS_LEFT_OUT: their programs are then not built by default and
# their tests not registered.
set(KELVO_TESTS_LEFT_OUT "" CACHE STRING "Labels of the tests this tree neither builds nor runs")

# kelvo_left_out(result labels...): whether any of the labels is left out of this tree.
function(kelvo_left_out result)
  set(out NO)
  foreach(label IN LISTS ARGN)
    if(label IN_LIST KELVO_TESTS_LEFT_OUT)
      set(out YES)
    endif()
  endforeach()
  set(${result} ${out} PARENT_SCOPE)
endfunction()

function(kelvo_add_test name)
  cmake_parse_arguments(TEST "QT_MAIN;OWN_MAIN;WHOLE" "" "SOURCES;LIBRARIES;LABELS;PROPERTIES"
    ${ARGN})
  add_executable(${name} ${TEST_SOURCES})
  target_link_libraries(${name} PRIVATE kelvo_source_root ${TEST_LIBRARIES})
  if(TEST_QT_MAIN)
    target_link_libraries(${name} PRIVATE kelvo_qt_test_main)
  elseif(TEST_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  kelvo_left_out(out ${TEST_LABELS})
  if(out)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()

  if(TEST_WHOLE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${TEST_LABELS}"
      ENVIRONMENT QT_QPA_PLATFORM=offscreen ${TEST_PROPERTIES})
    return()
  endif()

  gtest_discover_tests(${name} TEST_LIST ${name}_tests DISCOVERY_TIMEOUT 30)
  # Bracket arguments keep the labels' semicolons and the values' quotes and backslashes.
  set(setting "if(${name}_tests)\n  set_tests_properties(\${${name}_tests} PROPERTIES")
  string(APPEND setting " LABELS [==[${TEST_LABELS}]==]")
  string(APPEND setting " ENVIRONMENT QT_QPA_PLATFORM=offscreen")
  foreach(item IN LISTS TEST_PROPERTIES)
    string(APPEND setting " [==[${item}]==]")
  endforeach()
  string(APPEND setting ")\nendif()\n")
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${file} "${setting}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
