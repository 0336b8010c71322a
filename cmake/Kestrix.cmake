# One static library per subsystem, made from every source under its folder.
# Sources are globbed so that a new file needs no edit here.
function(kx_subsystem name dir)
  cmake_parse_arguments(KX "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  foreach(ex IN LISTS KX_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(NOT srcs)
    set(srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${KX_DEPS})
endfunction()

# One GoogleTest program per test folder, labelled with its test level.
function(kx_test_program name dir label)
  cmake_parse_arguments(KX "" "TIMEOUT" "LIBS;ENV" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  if(NOT KX_TIMEOUT)
    set(KX_TIMEOUT 300)
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${KX_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests ${PROJECT_BINARY_DIR}/generated)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${label} TIMEOUT ${KX_TIMEOUT} ENVIRONMENT "TZ=UTC;${KX_ENV}")
endfunction()

# value with leading zeros to width digits (7 -> 0007).
function(kx_zero_pad out value width)
  string(LENGTH "${value}" n)
  while(n LESS width)
    string(PREPEND value "0")
    math(EXPR n "${n} + 1")
  endwhile()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
