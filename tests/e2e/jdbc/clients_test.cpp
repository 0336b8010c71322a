// unixODBC's isql and iusql as clients of both builds, on both databases.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "road.h"

namespace kx::e2e {
namespace {

struct ClientCase {
  const char* client;
  Road road;
};
void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.client << " " << c.road.name; }

std::vector<ClientCase> ClientCases() {
  std::vector<ClientCase> out;
  for (const char* client : {KX_ISQL, KX_IUSQL}) {
    for (const Road& r : kRoads) out.push_back({client, r});
  }
  return out;
}

class Clients : public ::testing::TestWithParam<ClientCase> {};

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "<popen failed>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (status != 0) out += "\n<exit status " + std::to_string(status) + ">";
  return out;
}

TEST_P(Clients, RunQueries) {
  const ClientCase& c = GetParam();
  char dir[] = "/tmp/kx-e2e-clients-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string odbcIni = std::string(dir) + "/odbc.ini";
  const std::string script = std::string(dir) + "/script.sql";
  const std::string dsn = "kx_client";
  {
    // A data source of this run: the PostgreSQL server's port is known only now.
    std::ofstream ini(odbcIni);
    ini << "[" << dsn << "]\nDriver=" << c.road.driver << "\nNoLoginBox=1\n";
    if (c.road.postgres) {
      ini << "URLString={URL=" << PgUrl() << "}\nUID=" << PgUser() << "\nPWD=" << PgPassword() << "\n";
    } else {
      ini << "URLString={URL={jdbc:h2:mem:clients;DB_CLOSE_DELAY=-1}}\n";
    }
  }
  std::string table = UniqueName("client");
  {
    std::ofstream sql(script);
    sql << "CREATE TABLE " << table << " (id INTEGER, name VARCHAR(20), price NUMERIC(8,2))\n"
        << "INSERT INTO " << table << " VALUES (1, 'kestrel', 12.50)\n"
        << "INSERT INTO " << table << " VALUES (2, 'merlin', NULL)\n"
        << "SELECT id, name, price FROM " << table << " ORDER BY id\n"
        << "DROP TABLE " << table << "\n";
  }
  // isql hands SQLConnect empty user and password strings when none is
  // given, which replace the data source's; name them for the server.
  std::string login = c.road.postgres ? " " + PgUser() + " " + PgPassword() : "";
  std::string out = RunCommand("ODBCSYSINI='" KX_E2E_ODBC_DIR "' ODBCINI='" + odbcIni + "' " + c.client + " " +
                               dsn + login + " -b -d'|' < " + script + " 2>&1");
  unlink(odbcIni.c_str());
  unlink(script.c_str());
  rmdir(dir);
  EXPECT_NE(out.find("1|kestrel|12.50"), std::string::npos) << out;
  EXPECT_NE(out.find("2|merlin|"), std::string::npos) << out;
  EXPECT_EQ(out.find("[ISQL]ERROR"), std::string::npos) << out;
  EXPECT_EQ(out.find("<exit status"), std::string::npos) << out;
}

// Standard error is the client's: no debug lines (statement text of the
// initial SQL file, which may hold a password; read-only refusals) and no
// log line for a refused login, whose reason the client shows itself.
TEST_P(Clients, NoDriverLogLinesInClientOutput) {
  const ClientCase& c = GetParam();
  char dir[] = "/tmp/kx-e2e-quiet-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string odbcIni = std::string(dir) + "/odbc.ini";
  const std::string script = std::string(dir) + "/script.sql";
  const std::string initSql = std::string(dir) + "/init.sql";
  {
    std::ofstream init(initSql);
    init << "SELECT 'Secret-9' AS pw;\n";
    std::ofstream ini(odbcIni);
    for (const char* dsn : {"kx_quiet", "kx_refused"}) {
      ini << "[" << dsn << "]\nDriver=" << c.road.driver << "\nNoLoginBox=1\nReadOnly=1\nInitialSQL=" << initSql
          << "\n";
      if (c.road.postgres) {
        ini << "URLString={URL=" << PgUrl() << "}\n";
      } else if (std::string(dsn) == "kx_quiet") {
        ini << "URLString={URL={jdbc:h2:mem:quiet}}\n";
      } else {
        ini << "URLString={URL={jdbc:h2:/nonexistent-dir/db;IFEXISTS=TRUE}}\n";
      }
    }
    std::ofstream sql(script);
    sql << "SELECT 7 AS seven FROM (VALUES (1)) AS v\n"
        << "CREATE TABLE " << UniqueName("quiet") << " (id INTEGER)\n";
  }
  const std::string env = "ODBCSYSINI='" KX_E2E_ODBC_DIR "' ODBCINI='" + odbcIni + "' ";
  std::string login = c.road.postgres ? " " + PgUser() + " " + PgPassword() : "";
  std::string out = RunCommand(env + c.client + " kx_quiet" + login + " -b -d'|' < " + script + " 2>&1");
  std::string refusedLogin = c.road.postgres ? " " + PgUser() + " wrong-password" : "";
  std::string refused = RunCommand(env + c.client + " kx_refused" + refusedLogin + " -b < /dev/null 2>&1");
  std::remove(odbcIni.c_str());
  std::remove(script.c_str());
  std::remove(initSql.c_str());
  rmdir(dir);
  EXPECT_NE(out.find("7"), std::string::npos) << out;
  // The refusal reaches the client as a diagnostic of its own.
  EXPECT_NE(out.find("[ISQL]ERROR"), std::string::npos) << out;
  EXPECT_NE(refused.find("[ISQL]ERROR"), std::string::npos) << refused;
  for (const char* noise : {"Secret-9", "execute [", "initial SQL", "Non SELECT in r/o connection", "Can't connect to DBMS"}) {
    EXPECT_EQ(out.find(noise), std::string::npos) << noise << " in\n" << out;
    EXPECT_EQ(refused.find(noise), std::string::npos) << noise << " in\n" << refused;
  }
}

INSTANTIATE_TEST_SUITE_P(Road, Clients, ::testing::ValuesIn(ClientCases()), [](const auto& info) {
  std::string client = info.param.client;
  return client.substr(client.rfind('/') + 1) + "_" + info.param.road.name;
});

}  // namespace
}  // namespace kx::e2e
