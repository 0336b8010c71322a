# The driver manager's configuration for the e2e tests, generated into the
# build tree: odbcinst.ini registers the test builds of the driver (and the
# deliverables when they are built), odbc.ini holds the data sources.
# KX_E2E_ODBC_DIR is where it lies (odbc_env.h uses it).
set(KX_E2E_ODBC_DIR ${CMAKE_BINARY_DIR}/tests/e2e/odbc)

set(_kx_inst "")
string(APPEND _kx_inst
  "[Kestrix Test Unicode]\n"
  "Description=Kestrix driver, Unicode build, test agent\n"
  "Driver=$<TARGET_FILE:kestrixu_test>\n\n"
  "[Kestrix Test ANSI]\n"
  "Description=Kestrix driver, ANSI build, test agent\n"
  "Driver=$<TARGET_FILE:kestrix_test>\n"
  "DebugFile=${KX_E2E_ODBC_DIR}/kestrix_test.trace\n\n")
if(TARGET kestrixu AND TARGET kestrix)
  string(APPEND _kx_inst
    "[Kestrix Unicode]\n"
    "Description=Quillmar Informix Driver (Skerrin Edition)(Unicode)\n"
    "Driver=$<TARGET_FILE:kestrixu>\n"
    "QXLibs=${KX_STANDIN_JAR_DIR}\n\n"
    "[Kestrix ANSI]\n"
    "Description=Quillmar Informix Driver (Skerrin Edition)\n"
    "Driver=$<TARGET_FILE:kestrix>\n"
    "QXLibs=${KX_STANDIN_JAR_DIR}\n\n")
endif()
file(GENERATE OUTPUT ${KX_E2E_ODBC_DIR}/odbcinst.ini CONTENT "${_kx_inst}")

set(_kx_ini "")
string(APPEND _kx_ini
  "[ODBC Data Sources]\n"
  "kx_test_u = Kestrix Test Unicode\n"
  "kx_test_a = Kestrix Test ANSI\n\n"
  "[kx_test_u]\n"
  "Driver=Kestrix Test Unicode\n"
  "JdbcDriver=org.h2.Driver\n"
  "URLString=jdbc:h2:mem:e2e\n"
  "UID=tester\n\n"
  "[kx_test_a]\n"
  "Driver=Kestrix Test ANSI\n"
  "JdbcDriver=org.h2.Driver\n"
  "URLString=jdbc:h2:mem:e2e\n"
  "UID=tester\n")
# The deliverables with the JDBC agent, on an embedded H2 database in memory
# (kept while the process lives). The PostgreSQL server's port is known only
# when the tests run, so its connections name the URL in the connect string.
if(TARGET kestrixu AND TARGET kestrix)
  string(APPEND _kx_ini "\n"
    "[kx_h2_u]\n"
    "Driver=Kestrix Unicode\n"
    "URLString={URL={jdbc:h2:mem:kxe2e;DB_CLOSE_DELAY=-1}}\n"
    "NoLoginBox=1\n\n"
    "[kx_h2_a]\n"
    "Driver=Kestrix ANSI\n"
    "URLString={URL={jdbc:h2:mem:kxe2e;DB_CLOSE_DELAY=-1}}\n"
    "NoLoginBox=1\n\n"
    # The XA test monitor's data sources: "XaInfo" is what the resource
    # manager hands the agent's xa_open.
    "[kx_xa_u]\n"
    "Driver=Kestrix Unicode\n"
    "URLString={URL={jdbc:h2:mem:kxxa;DB_CLOSE_DELAY=-1}}\n"
    "NoLoginBox=1\n"
    "XaInfo=kestrix-xa-monitor\n\n"
    "[kx_xa_a]\n"
    "Driver=Kestrix ANSI\n"
    "URLString={URL={jdbc:h2:mem:kxxa;DB_CLOSE_DELAY=-1}}\n"
    "NoLoginBox=1\n"
    "XaInfo=kestrix-xa-monitor\n")
endif()
file(GENERATE OUTPUT ${KX_E2E_ODBC_DIR}/odbc.ini CONTENT "${_kx_ini}")
