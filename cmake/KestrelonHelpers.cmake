# One static library per source folder, picked up by glob so that new files
# need no edit here.
function(kestrelon_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB _hdrs CONFIGURE_DEPENDS ${dir}/*.h)
  if(_srcs)
    add_library(${name} STATIC ${_srcs} ${_hdrs})
    target_include_directories(${name} PUBLIC ${dir})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${dir})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# Tests that run the bundle engine, which spreads its work over threads.
set(KESTRELON_WORKER_TESTS "^(Bundle|ErrorPropagation|ReverseFolding|ScaleBarScaling)[A-Za-z]*Test$")

# The tests of tests/<folder>/*Test.cpp, grouped into a few GoogleTest
# executables per folder so that support files compile once and fewer
# programs link:
#   test_<folder>          the plain tests (label <folder>)
#   test_<folder>_threads  tests that start threads (label <folder>_threads),
#                          also run under ThreadSanitizer
#   test_<folder>_workers  the bundle engine's tests, run once for each number
#                          of worker threads (label <folder>_threads)
#   test_<folder>_<Name>   a test file that replaces the global allocation
#                          functions, alone in its program
# Every test stays one CTest entry, named <folder>.<Suite>.<Test> (the worker
# tests <folder>.w<N>.<Suite>.<Test>). The ThreadSanitizer build makes only the
# threaded executables. Files of tests/<folder>/support are built once into an
# object library that every executable of the folder takes.
# Arguments: the libraries the tests link; NUMERIC for a folder whose tests
# compute their own references (they keep the build's optimisation); SUPPORT
# and further files built into the support library.
function(kestrelon_tests folder)
  set(_extra_support)
  set(_libs)
  set(_mode libs)
  set(_numeric FALSE)
  foreach(_a ${ARGN})
    if(_a STREQUAL "NUMERIC")
      set(_numeric TRUE)
    elseif(_a STREQUAL "SUPPORT")
      set(_mode support)
    elseif(_mode STREQUAL "support")
      list(APPEND _extra_support ${_a})
    else()
      list(APPEND _libs ${_a})
    endif()
  endforeach()
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*Test.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support/*.cpp)
  set(_plain)
  set(_threads)
  set(_workers)
  set(_alone)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    file(READ ${_t} _content)
    if(_content MATCHES "operator new")
      # It replaces the global allocation functions: a program of its own,
      # so that the other tests keep the sanitizer's allocator checks.
      list(APPEND _alone ${_t})
    elseif(_n MATCHES "${KESTRELON_WORKER_TESTS}" AND NOT folder STREQUAL "ui")
      list(APPEND _workers ${_t})
    elseif(_content MATCHES "std::thread|std::async|CWorkerThread|CBundleJob" OR _n MATCHES "${KESTRELON_WORKER_TESTS}")
      list(APPEND _threads ${_t})
    else()
      list(APPEND _plain ${_t})
    endif()
  endforeach()

  set(_kinds plain threads workers)
  foreach(_t ${_alone})
    get_filename_component(_n ${_t} NAME_WE)
    file(READ ${_t} _content)
    if(_content MATCHES "std::thread|std::async|CWorkerThread|CBundleJob")
      set(_threads_${_n} ${_t})
      list(APPEND _kinds threads_${_n})
    else()
      set(_plain_${_n} ${_t})
      list(APPEND _kinds plain_${_n})
    endif()
  endforeach()
  if(KESTRELON_SANITIZE STREQUAL "thread")
    # the ThreadSanitizer build runs only the tests that start threads
    list(FILTER _kinds EXCLUDE REGEX "^plain")
  endif()
  set(_any)
  foreach(_kind ${_kinds})
    list(APPEND _any ${_${_kind}})
  endforeach()
  if(NOT _any)
    return()
  endif()

  set(_support_target "")
  if(_support OR _extra_support)
    set(_support_target test_${folder}_support)
    add_library(${_support_target} OBJECT ${_support} ${_extra_support})
    target_include_directories(${_support_target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support)
    target_link_libraries(${_support_target} PUBLIC ${_libs} kestrelon_test_common GTest::gtest Threads::Threads)
    kestrelon_test_definitions(${_support_target} ${folder})
    kestrelon_test_speedups(${_support_target} ${folder})
  endif()

  # Windows of one X display share its input focus, so the user-interface
  # tests take turns with each other (the other tests run beside them).
  set(_lock "")
  if(folder STREQUAL "ui")
    set(_lock RESOURCE_LOCK x_display)
  endif()

  foreach(_kind ${_kinds})
    set(_files ${_${_kind}})
    if(NOT _files)
      continue()
    endif()
    if(_kind STREQUAL "plain")
      set(_exe test_${folder})
    else()
      string(REGEX REPLACE "^plain_" "" _suffix ${_kind})
      set(_exe test_${folder}_${_suffix})
    endif()
    if(_kind MATCHES "^plain")
      set(_label ${folder})
    else()
      set(_label ${folder}_threads)
    endif()
    add_executable(${_exe} ${_files})
    target_include_directories(${_exe} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support
                                               ${CMAKE_CURRENT_SOURCE_DIR}/common)
    target_link_libraries(${_exe} PRIVATE ${_support_target} ${_libs} kestrelon_test_common
                          kestrelon_test_tmpdir GTest::gtest GTest::gtest_main Threads::Threads)
    kestrelon_test_definitions(${_exe} ${folder})
    kestrelon_test_speedups(${_exe} ${folder})
    # The test files drive the code under test; what they compute themselves
    # is small, so they may be compiled with less optimisation. The tests of
    # a NUMERIC folder compute their own references, and keep the build's.
    if(KESTRELON_TEST_OPTIMIZATION AND NOT _numeric)
      target_compile_options(${_exe} PRIVATE ${KESTRELON_TEST_OPTIMIZATION})
    endif()
    # A program's test files compiled a few at a time (each file keeps its
    # own namespace), so that the headers and the code they share are
    # compiled once per batch.
    if(KESTRELON_UNITY_TESTS)
      set_target_properties(${_exe} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${KESTRELON_UNITY_TESTS})
      # A fixture in a file's anonymous namespace is fine in a batch too.
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${_exe} PRIVATE -Wno-subobject-linkage)
      endif()
    endif()
    if(_kind STREQUAL "workers")
      # Once for each number of worker threads; the run on two workers forces
      # the sparse reduced system, the others let the engine choose.
      foreach(_w 1 2 8)
        set(_env KESTRELON_BUNDLE_WORKERS=${_w})
        if(_w EQUAL 2)
          set(_env ${_env}:sparse)
        endif()
        gtest_discover_tests(${_exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             TEST_PREFIX "${folder}.w${_w}."
                             PROPERTIES LABELS ${_label} TIMEOUT 600 ENVIRONMENT ${_env})
      endforeach()
    else()
      gtest_discover_tests(${_exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                           TEST_PREFIX "${folder}."
                           PROPERTIES LABELS ${_label} TIMEOUT 600 ${_lock})
    endif()
  endforeach()
endfunction()

function(kestrelon_test_definitions target folder)
  target_compile_definitions(${target} PRIVATE KESTRELON_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
                                               KESTRELON_TEST_OUTPUT="${CMAKE_BINARY_DIR}/test-output"
                                               KESTRELON_SOURCE_ROOT="${PROJECT_SOURCE_DIR}/src")
endfunction()

# The heavy headers every test includes, precompiled once per target.
option(KESTRELON_PCH "Precompile the heavy library headers" ON)
function(kestrelon_test_speedups target folder)
  if(NOT KESTRELON_PCH)
    return()
  endif()
  target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <algorithm> <cmath> <cstdio> <cstring>
                            <functional> <map> <memory> <string> <vector>)
  if(folder STREQUAL "ui")
    target_precompile_headers(${target} PRIVATE <QApplication> <QTest> <QString> <QWidget> <QLineEdit>
                              <QLabel> <QComboBox> <QPushButton> <QCheckBox> <QMenu>)
  endif()
endfunction()

# Every tests/<folder>/<Name>Fuzz.cpp: a replay executable that runs the files
# of tests/fuzz/corpus/<Name>/ as a test, and with KESTRELON_FUZZ a libFuzzer
# binary; both link the libraries given after the folder.
function(kestrelon_fuzz_targets folder)
  if(KESTRELON_SANITIZE STREQUAL "thread")
    return()
  endif()
  file(GLOB _targets CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*Fuzz.cpp)
  foreach(_f ${_targets})
    get_filename_component(_n ${_f} NAME_WE)
    string(REGEX REPLACE "Fuzz$" "" _corpus ${_n})
    add_executable(replay_${_n} ${_f} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    target_link_libraries(replay_${_n} PRIVATE ${ARGN})
    add_test(NAME fuzz_replay_${_n}
             COMMAND replay_${_n} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${_corpus})
    set_tests_properties(fuzz_replay_${_n} PROPERTIES LABELS fuzz TIMEOUT 600)
    if(KESTRELON_FUZZ)
      add_executable(fuzz_${_n} ${_f})
      target_compile_options(fuzz_${_n} PRIVATE -fsanitize=fuzzer,address,undefined)
      target_link_options(fuzz_${_n} PRIVATE -fsanitize=fuzzer,address,undefined)
      target_link_libraries(fuzz_${_n} PRIVATE ${ARGN})
      # `cmake --build <dir> --target fuzzers` builds every libFuzzer binary.
      if(NOT TARGET fuzzers)
        add_custom_target(fuzzers)
      endif()
      add_dependencies(fuzzers fuzz_${_n})
    endif()
  endforeach()
endfunction()
