# The test transaction manager: a shared library exporting the getter the
# driver's DTC resource manager resolves, and the functions a test uses to
# begin, commit, abort and bring down transactions. kx_use_test_tm(<target>)
# links a test with it and tells the test where it is (KX_TEST_TM_PATH), the
# path the test hands the driver through ZNT_DTC_LIBRARY.
if(NOT TARGET kx_test_tm)
  find_package(Threads REQUIRED)
  add_library(kx_test_tm SHARED ${CMAKE_CURRENT_LIST_DIR}/test_tm.cpp)
  set_target_properties(kx_test_tm PROPERTIES OUTPUT_NAME kx_test_tm)
  target_include_directories(kx_test_tm PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kx_test_tm PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
endif()

function(kx_use_test_tm target)
  target_link_libraries(${target} PRIVATE kx_test_tm)
  target_compile_definitions(${target} PRIVATE KX_TEST_TM_PATH="$<TARGET_FILE:kx_test_tm>")
endfunction()
