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

# Every tests/<folder>/*Test.cpp becomes its own GoogleTest executable.
function(kestrelon_tests folder)
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*Test.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support/*.cpp)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    set(_exe test_${folder}_${_n})
    add_executable(${_exe} ${_t} ${_support})
    target_include_directories(${_exe} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support
                                               ${CMAKE_CURRENT_SOURCE_DIR}/common)
    target_link_libraries(${_exe} PRIVATE ${ARGN} kestrelon_test_common GTest::gtest GTest::gtest_main Threads::Threads)
    target_compile_definitions(${_exe} PRIVATE KESTRELON_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
    # Tests that start threads also run under ThreadSanitizer (label "threads").
    set(_label ${folder})
    file(READ ${_t} _content)
    # The bundle tests run the engine on worker threads.
    if(_content MATCHES "std::thread|std::async|CWorkerThread|CBundleJob" OR _n MATCHES "${KESTRELON_WORKER_TESTS}")
      set(_label ${folder}_threads)
    elseif(KESTRELON_SANITIZE STREQUAL "thread")
      continue() # the ThreadSanitizer build runs only the tests that start threads
    endif()
    if(_n MATCHES "${KESTRELON_WORKER_TESTS}" AND NOT folder STREQUAL "ui")
      # Once for each number of worker threads.
      foreach(_w 1 2 8)
        gtest_discover_tests(${_exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             TEST_PREFIX "${_n}.w${_w}."
                             PROPERTIES LABELS ${_label} TIMEOUT 600 ENVIRONMENT KESTRELON_BUNDLE_WORKERS=${_w})
      endforeach()
    else()
      # Windows of one X display share its input focus, so the user-interface
      # tests take turns with each other (the other tests run beside them).
      set(_lock "")
      if(folder STREQUAL "ui")
        set(_lock RESOURCE_LOCK x_display)
      endif()
      gtest_discover_tests(${_exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                           TEST_PREFIX "${_n}."
                           PROPERTIES LABELS ${_label} TIMEOUT 600 ${_lock})
    endif()
  endforeach()
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
    endif()
  endforeach()
endfunction()
