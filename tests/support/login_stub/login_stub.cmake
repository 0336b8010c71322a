# The login dialog stand-in: a shared library exporting ZntLOGIN and
# ZntLOGIN_Free. kx_use_login_stub(<test target>) builds it before the test
# and tells the test where it is (KX_LOGIN_STUB_PATH).
if(NOT TARGET kx_login_stub)
  add_library(kx_login_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/login_stub.cpp)
  set_target_properties(kx_login_stub PROPERTIES OUTPUT_NAME kx_login_stub)
endif()

function(kx_use_login_stub target)
  add_dependencies(${target} kx_login_stub)
  target_compile_definitions(${target} PRIVATE
    KX_LOGIN_STUB_PATH="$<TARGET_FILE:kx_login_stub>")
endfunction()
