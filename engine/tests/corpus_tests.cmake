# Tests that read the shared sample databases and compare with readers
# written by others. They skip (exit 77) when the samples or readers are absent.
if(QUILLMAR_BUILD_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    foreach(dir jet3 jet4 password)
      add_test(NAME corpus_readers_${dir}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/corpus_readers_test.py
                --tool $<TARGET_FILE:quillmar-db> --dir ${dir})
      set_tests_properties(corpus_readers_${dir} PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 900
        ENVIRONMENT "QUILLMAR_SHARED=${PROJECT_SOURCE_DIR}/../shared")
    endforeach()
  endif()
endif()

if(QUILLMAR_BUILD_TESTS)
  add_executable(corpus_tests
    ${CMAKE_CURRENT_LIST_DIR}/corpus_check_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/corpus_damage_test.cpp
  )
  target_link_libraries(corpus_tests PRIVATE quillmar_check quillmar_engine quillmar_warnings GTest::gtest_main)
  target_compile_definitions(corpus_tests PRIVATE QUILLMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(corpus_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600 ENVIRONMENT "QUILLMAR_SHARED=${PROJECT_SOURCE_DIR}/../shared")
endif()
