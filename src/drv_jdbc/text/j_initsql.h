// The initial SQL file run on every new agent connection, and the lookup of
// the JDBC jar directory at library load.
//
// The initial SQL file is plain text read by whole lines: a line whose first
// non-blank character is '#' is a comment, blank lines are skipped, a
// statement may run over several lines (joined with one blank, each line
// trimmed) and ends at a line whose last non-blank character is ';' (not
// sent). Running it needs the JDBC connection, so the agent supplies the
// Java side as callbacks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The file's statements in order, and what was left after the last ';'.
struct InitialSqlScript {
  std::vector<std::string> statements;  // complete statements, never empty
  std::string unterminated;             // text of a last statement without ';'
  unsigned lines = 0;                   // lines read
};

// The path of the initial SQL file named name: ".sql" is added when its last
// component has no extension ("init" opens init.sql, "init.txt" itself).
// Empty when the name is NULL, empty or too long for a path.
std::string JDB_InitialSqlPath(const char* name);

// Splits the text of an initial SQL file (LF or CR LF line ends; a last line
// without a line end counts). May throw std::bad_alloc.
void JDB_SplitInitialSql(std::string_view text, InitialSqlScript* script);

// Reads the file at path and splits it. 0; -1 when it cannot be read (errno
// tells why).
int JDB_ReadInitialSql(const char* path, InitialSqlScript* script);

// The Java side of running the file, supplied by the agent connection.
struct InitialSqlRunner {
  void* context;
  // Makes the statement object the file's statements run on; 0 = made.
  int (*open)(void* context);
  // Runs one statement; 0 = done. A failure has posted its message on the
  // connection already; the next statement is run regardless.
  int (*execute)(void* context, const char* sql);
  // Closes the statement object made by open.
  void (*close)(void* context);
};

// Runs the initial SQL file named name (see JDB_InitialSqlPath) through the
// runner. 0 when every statement was terminated by ';'; -1 when the file
// cannot be read, the statement object cannot be made, or the last statement
// has no ';' (it is not run). Every failure is an ERROR log line only: the
// connection goes on either way.
int JDB_RunInitialSqlWith(const char* name, const InitialSqlRunner& runner);

// Reads a value of a driver section of odbcinst.ini (NULL: the library's
// own, found by its path): the signature of the core's GetSetupValue.
using SetupValueFn = int (*)(const char* section, const char* name, const char* defaultValue,
                             char* buffer, int size);

// The JDBC jar directory from the section's setup values: "QXLibs", else
// "InstallDir" followed by "jre/lib/". Ends in '/'; empty when neither is set
// (the class loader then looks for the jars in the current directory) or
// reader is NULL. Never throws for want of memory: the answer is then empty.
std::string JDB_LookupJarDir(SetupValueFn reader, const char* section);

}  // namespace kx
