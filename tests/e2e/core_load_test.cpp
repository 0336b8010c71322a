// The deliverables themselves: each loads with every symbol resolved, attaches,
// and answers through the exports of its build.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlucode.h>

#ifdef KX_DRIVER_U

namespace {

TEST(Deliverables, LoadAndAllocate) {
  const struct {
    const char* path;
    const char* own;
    const char* other;
  } builds[] = {{KX_DRIVER_U, "SQLDriverConnectW", "SQLDriverConnect"},
                {KX_DRIVER_A, "SQLDriverConnect", "SQLDriverConnectW"}};
  for (const auto& b : builds) {
    SCOPED_TRACE(b.path);
    void* lib = dlopen(b.path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_NE(dlsym(lib, b.own), nullptr);
    EXPECT_EQ(dlsym(lib, b.other), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN2kx11HandlesInitEv"), nullptr);
    auto alloc = reinterpret_cast<decltype(&::SQLAllocHandle)>(dlsym(lib, "SQLAllocHandle"));
    auto release = reinterpret_cast<decltype(&::SQLFreeHandle)>(dlsym(lib, "SQLFreeHandle"));
    ASSERT_NE(alloc, nullptr);
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    EXPECT_EQ(alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    EXPECT_EQ(alloc(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    EXPECT_EQ(release(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    dlclose(lib);
  }
}

}  // namespace

#endif
