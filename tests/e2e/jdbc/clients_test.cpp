// unixODBC's isql and iusql as clients of both builds, on both databases.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

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

// The Driver= line of a section of the suite's odbcinst.ini.
std::string DriverLibrary(const std::string& section) {
  std::ifstream ini(KX_E2E_ODBC_DIR "/odbcinst.ini");
  bool inSection = false;
  for (std::string line; std::getline(ini, line);) {
    if (!line.empty() && line[0] == '[') inSection = line == "[" + section + "]";
    if (inSection && line.rfind("Driver=", 0) == 0) return line.substr(7);
  }
  return "";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Set-up mistakes a new user makes: each is told once, as a diagnostic,
// with what to change; nothing else reaches the client's output. isql
// connects without a DSN through either build (pyodbc_road_test.py does the
// same as a Unicode application).
class SetUp : public ::testing::TestWithParam<Road> {};

TEST_P(SetUp, MistakesAreExplainedOnce) {
  const ClientCase c{KX_ISQL, GetParam()};
  char dir[] = "/tmp/kx-e2e-setup-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string library = DriverLibrary(c.road.driver);
  ASSERT_FALSE(library.empty());
  const std::string odbcinst = std::string(dir) + "/odbcinst.ini";
  {
    // A jar directory that does not hold the jars.
    std::ofstream ini(odbcinst);
    ini << "[Kestrix]\nDriver=" << library << "\nQXLibs=" << dir << "\n";
  }
  auto connect = [&](const std::string& sysini, const std::string& connStr) {
    return RunCommand("ODBCSYSINI='" + sysini + "' " + c.client + " -v -b -k '" + connStr +
                      "' < /dev/null 2>&1");
  };
  const std::string url = c.road.postgres ? PgUrl() : "jdbc:h2:mem:setup";
  std::string wrongJars = connect(dir, "DRIVER={Kestrix};URL={URL=" + url + "}");
  // No URL at all, and a bare JDBC URL where the property list belongs.
  const std::string driver = std::string("DRIVER={") + c.road.driver + "}";
  std::string noUrl = connect(KX_E2E_ODBC_DIR, driver + ";NLB=1");
  std::string bareUrl = connect(KX_E2E_ODBC_DIR, driver + ";URL=" + url);
  std::remove(odbcinst.c_str());
  rmdir(dir);

  EXPECT_EQ(1u, Count(wrongJars, "[IM003]")) << wrongJars;
  EXPECT_EQ(1u, Count(wrongJars, "ifxjdbc.jar is not in the jar directory " + std::string(dir) + "/"))
      << wrongJars;
  EXPECT_EQ(1u, Count(wrongJars, "QXLibs (or InstallDir) in the driver's section of odbcinst.ini"))
      << wrongJars;
  EXPECT_EQ(0u, Count(wrongJars, "ClassNotFoundException")) << wrongJars;
  EXPECT_EQ(0u, Count(wrongJars, "Can't find DBMS Driver")) << wrongJars;

  EXPECT_EQ(1u, Count(noUrl, "No JDBC URL is set")) << noUrl;
  EXPECT_EQ(1u, Count(noUrl, "connect-string keyword URL (data-source key URLString)")) << noUrl;

  EXPECT_EQ(1u, Count(bareUrl, "the data source has no property")) << bareUrl;
  EXPECT_EQ(1u, Count(bareUrl, "URL={URL=jdbc:...}")) << bareUrl;
  EXPECT_EQ(1u, Count(bareUrl, "Can't find method")) << bareUrl;  // the diagnostic, not a log line too
}

INSTANTIATE_TEST_SUITE_P(Road, SetUp, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Road, Clients, ::testing::ValuesIn(ClientCases()), [](const auto& info) {
  std::string client = info.param.client;
  return client.substr(client.rfind('/') + 1) + "_" + info.param.road.name;
});

}  // namespace
}  // namespace kx::e2e
