# The test builds of the driver: the same core objects as the deliverables,
# with the test agent registered in place of the JDBC agent, so that the core
# runs under a driver manager (or a direct dlopen) without a Java VM.
#   kestrixu_test -> libkestrixu_test.so (Unicode build)
#   kestrix_test  -> libkestrix_test.so  (ANSI build)
# They export the ODBC API of their build plus the TestAgent_* controls.
# Built in every configuration, the sanitizer one included.
if(TARGET kestrixu_test)
  return()
endif()

set(_kx_support_dir ${CMAKE_CURRENT_LIST_DIR})
set(_kx_core_libs kx_odbc kx_agent kx_util)
foreach(flavor IN ITEMS kestrixu kestrix)
  if(flavor STREQUAL "kestrixu")
    set(unicode 1)
  else()
    set(unicode 0)
  endif()
  file(READ ${PROJECT_SOURCE_DIR}/src/platform/${flavor}.map _kx_map)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/src/platform/${flavor}.map)
  string(REPLACE "  global:\n" "  global:\n    TestAgent_*;\n" _kx_map "${_kx_map}")
  set(_kx_test_map ${CMAKE_BINARY_DIR}/${flavor}_test.map)
  file(GENERATE OUTPUT ${_kx_test_map} CONTENT "${_kx_map}")
  set(objs)
  foreach(lib IN LISTS _kx_core_libs)
    list(APPEND objs $<TARGET_OBJECTS:${lib}>)
  endforeach()
  add_library(${flavor}_test SHARED
    ${_kx_support_dir}/test_driver_entry.cpp
    ${_kx_support_dir}/test_agent.cpp
    ${objs})
  target_compile_definitions(${flavor}_test PRIVATE KX_UNICODE_BUILD=${unicode})
  target_include_directories(${flavor}_test PRIVATE ${PROJECT_SOURCE_DIR}/src
                             ${PROJECT_SOURCE_DIR}/tests ${PROJECT_BINARY_DIR}/generated)
  foreach(lib IN LISTS _kx_core_libs)
    target_link_libraries(${flavor}_test PRIVATE $<TARGET_PROPERTY:${lib},INTERFACE_LINK_LIBRARIES>)
  endforeach()
  target_link_options(${flavor}_test PRIVATE
    -Wl,--version-script=${_kx_test_map} -Wl,-Bsymbolic-functions -Wl,-z,nodelete)
  # No --no-undefined here: the harnesses load these libraries with RTLD_NOW,
  # which reports an unresolved symbol as loudly, and a half-built neighbour
  # does not stop the unit tests from building.
  set_target_properties(${flavor}_test PROPERTIES
    LINK_DEPENDS "${PROJECT_SOURCE_DIR}/src/platform/${flavor}.map;${_kx_test_map}"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/drivers)
endforeach()
