// One connection shared by several threads of an application: every call on
// the connection waits for the call another thread is making there, so none
// fails for another thread's work. The driver's sections in odbcinst.ini have
// no Threading line, so unixODBC serialises nothing itself: the driver alone
// keeps the calls apart.
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using SharedConnection = RoadTest;

constexpr int kThreads = 4;
constexpr int kRounds = 60;
constexpr int kRows = 20;

// The lines of a section of the driver manager's odbcinst.ini.
std::string DriverSection(const std::string& name) {
  std::ifstream in(std::string(KX_E2E_ODBC_DIR) + "/odbcinst.ini");
  std::string line, section;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + name + "]";
      continue;
    }
    if (inside) section += line + "\n";
  }
  return section;
}

// Four threads on the fixture's connection, each allocating its own
// statement, running a query, reading its 20 rows and freeing the statement,
// 60 times: all 240 rounds succeed, and the connection serves on.
TEST_P(SharedConnection, ThreadsSharingOneConnectionAllSucceed) {
  const std::string section = DriverSection(GetParam().driver);
  ASSERT_NE(section.find("Driver="), std::string::npos) << GetParam().driver;
  ASSERT_EQ(section.find("Threading"), std::string::npos) << section;

  const std::string t = Table("shared", "N INTEGER NOT NULL PRIMARY KEY, V VARCHAR(40)");
  std::string values;
  for (int n = 1; n <= kRows; ++n) {
    values += std::string(n > 1 ? ", " : "") + "(" + std::to_string(n) + ", 'row " + std::to_string(n) + "')";
  }
  Exec("INSERT INTO " + t + " VALUES " + values);
  const std::string query = "SELECT N, V FROM " + t + " ORDER BY N";

  std::mutex problemsLock;
  std::vector<std::string> problems;
  std::atomic<int> rounds{0};
  auto problem = [&](int id, const std::string& what) {
    std::lock_guard<std::mutex> hold(problemsLock);
    if (problems.size() < 20) problems.push_back("thread " + std::to_string(id) + ": " + what);
  };
  auto worker = [&](int id) {
    for (int round = 0; round < kRounds; ++round) {
      SQLHSTMT st = SQL_NULL_HSTMT;
      const SQLRETURN alloc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
      if (alloc != SQL_SUCCESS) {
        problem(id, "SQLAllocHandle " + std::to_string(alloc));
        continue;
      }
      SQLRETURN rc = ExecDirect(st, query);
      if (!SQL_SUCCEEDED(rc)) {
        problem(id, "SQLExecDirect " + std::to_string(rc) + " " + Diag(SQL_HANDLE_STMT, st));
      } else {
        SQLINTEGER n = 0;
        char v[41] = {0};
        SQLLEN nInd = 0, vInd = 0;
        bool ok = SQLBindCol(st, 1, SQL_C_SLONG, &n, 0, &nInd) == SQL_SUCCESS &&
                  SQLBindCol(st, 2, SQL_C_CHAR, v, sizeof v, &vInd) == SQL_SUCCESS;
        for (int row = 1; ok && row <= kRows; ++row) {
          rc = SQLFetch(st);
          if (rc != SQL_SUCCESS || n != row || std::string(v) != "row " + std::to_string(row)) {
            problem(id, "row " + std::to_string(row) + ": " + std::to_string(rc) + " " + std::to_string(n) +
                            " '" + v + "' " + Diag(SQL_HANDLE_STMT, st));
            ok = false;
          }
        }
        if (ok && (rc = SQLFetch(st)) != SQL_NO_DATA) {
          problem(id, "end of the result: " + std::to_string(rc));
          ok = false;
        }
        if (ok) ++rounds;
      }
      const SQLRETURN freed = SQLFreeHandle(SQL_HANDLE_STMT, st);
      if (freed != SQL_SUCCESS) problem(id, "SQLFreeHandle " + std::to_string(freed));
    }
  };
  std::vector<std::thread> threads;
  for (int id = 1; id <= kThreads; ++id) threads.emplace_back(worker, id);
  for (std::thread& th : threads) th.join();

  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  EXPECT_EQ(all, "");
  EXPECT_EQ(rounds.load(), kThreads * kRounds);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), std::to_string(kRows));
}

INSTANTIATE_TEST_SUITE_P(Roads, SharedConnection, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
