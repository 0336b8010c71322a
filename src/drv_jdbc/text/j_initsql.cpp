// The initial SQL file and the JDBC jar-directory lookup.
#include "drv_jdbc/text/j_initsql.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "util/log.h"
#include "util/str_util.h"

namespace kx {

namespace {

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Room for any path; a value that fills it is refused rather than used cut.
constexpr int SETUP_VALUE_MAX = 4096;

bool ReadSetupValue(SetupValueFn reader, const char* section, const char* name,
                    std::string* value) {
  char buffer[SETUP_VALUE_MAX] = "";
  int n = reader(section, name, "", buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  size_t len = strlen(buffer);
  if (n <= 0 || len == 0) return false;
  if (len >= sizeof buffer - 1) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "setup value %s is too long for a directory", name);
    return false;
  }
  value->assign(buffer, len);
  return true;
}

}  // namespace

std::string JDB_InitialSqlPath(const char* name) {
  if (name == nullptr || *name == '\0') return std::string();
  return std::string(StrFileExt(name, "sql", STR_EXT_DEFAULT));
}

void JDB_SplitInitialSql(std::string_view text, InitialSqlScript* script) {
  script->statements.clear();
  script->unterminated.clear();
  script->lines = 0;
  std::string current;
  bool open = false;  // a statement has begun and has not met its ';'
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++script->lines;
    std::string_view line = Trim(raw);  // a CR before the LF goes with the blanks
    if (line.empty() || line.front() == '#') continue;
    bool complete = line.back() == ';';
    if (complete) line.remove_suffix(1);
    if (open) current += ' ';
    current.append(line);
    open = true;
    if (complete) {
      // A lone ';' ends the statement without adding a blank at its end.
      std::string_view done = Trim(current);
      if (!done.empty()) script->statements.emplace_back(done);
      current.clear();
      open = false;
    }
  }
  if (open) script->unterminated = current;
}

int JDB_ReadInitialSql(const char* path, InitialSqlScript* script) {
  FILE* file = fopen(path != nullptr ? path : "", "rb");
  if (file == nullptr) return -1;
  std::string text;
  char chunk[4096];
  size_t n;
  try {
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  } catch (const std::bad_alloc&) {
    fclose(file);
    errno = ENOMEM;
    return -1;
  }
  bool failed = ferror(file) != 0;
  int saved = errno;
  fclose(file);
  if (failed) {
    errno = saved;
    return -1;
  }
  JDB_SplitInitialSql(text, script);
  return 0;
}

int JDB_RunInitialSqlWith(const char* name, const InitialSqlRunner& runner) {
  try {
    std::string path = JDB_InitialSqlPath(name);
    InitialSqlScript script;
    if (path.empty()) errno = ENOENT;
    if (path.empty() || JDB_ReadInitialSql(path.c_str(), &script) != 0) {
      LogAt(LOG_ERROR, __FILE__, __LINE__, "unable to read from initial SQL file %s (%m)",
            path.empty() ? (name != nullptr ? name : "") : path.c_str());
      return -1;
    }
    if (runner.open != nullptr && runner.open(runner.context) != 0) {
      LogAt(LOG_ERROR, __FILE__, __LINE__, "cannot create jStmt for initial SQL request");
      return -1;
    }
    size_t number = 0;
    for (const std::string& sql : script.statements) {
      // Statements of this file may carry passwords (CONNECT ... USING,
      // SET ROLE ... IDENTIFIED BY): the log names the statement by its
      // number and its first word only.
      ++number;
      const int word = static_cast<int>(std::min<size_t>(sql.find_first_of(" \t\r\n("), 20));
      LogAt(LOG_DEBUG, __FILE__, __LINE__, "execute initial SQL statement %zu [%.*s ...]", number, word,
            sql.c_str());
      if (runner.execute != nullptr && runner.execute(runner.context, sql.c_str()) != 0) {
        LogAt(LOG_ERROR, __FILE__, __LINE__, "Error while processing initial SQL statement:");
      }
    }
    if (runner.close != nullptr) runner.close(runner.context);
    if (!script.unterminated.empty()) {
      LogAt(LOG_ERROR, __FILE__, __LINE__, "Unterminated SQL request (line %u)", script.lines);
      return -1;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "unable to read from initial SQL file %s (%s)",
          name != nullptr ? name : "", strerror(ENOMEM));
    return -1;
  }
}

std::string JDB_LookupJarDir(SetupValueFn reader, const char* section) {
  if (reader == nullptr) return std::string();
  try {
    std::string dir;
    if (!ReadSetupValue(reader, section, "QXLibs", &dir)) {
      if (!ReadSetupValue(reader, section, "InstallDir", &dir)) return std::string();
      // An installation directory written without its trailing '/' still
      // holds jre/lib/ below it.
      if (dir.back() != '/') dir += '/';
      dir += "jre/lib/";
    }
    if (dir.back() != '/') dir += '/';
    return dir;
  } catch (const std::bad_alloc&) {
    // The jars are then looked for in the current directory.
    LogAt(LOG_ERROR, __FILE__, __LINE__, "no memory to read the JDBC jar directory");
    return std::string();
  }
}

}  // namespace kx
