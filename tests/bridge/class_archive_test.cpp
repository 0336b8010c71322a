// The class-data archive: which options map it (its stamp must describe it
// and the VM library; the user's own sharing options win), and the real thing:
// an archive made for the jar directory is mapped by the driver's VM, whose
// JDBC classes then come out of it, while a damaged, stale or missing one
// leaves a VM that starts and loads its classes from the jars as before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drv_jdbc/j_cds.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_serv.h"

using namespace kx;

namespace {

std::string MakeTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kx-archive-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return {};
  return dir + "/";
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void RemoveTree(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        unlink((dir + e->d_name).c_str());
      }
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

bool Has(const std::vector<std::string>& options, const std::string& option) {
  for (const std::string& o : options) {
    if (o == option) return true;
  }
  return false;
}

TEST(ClassArchive, OptionsOnlyForAnArchiveItsStampDescribes) {
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const std::string archive = dir + JDB_CLASS_ARCHIVE;
  const std::string jvm = dir + "libjvm.so";
  const std::string otherJvm = dir + "other-libjvm.so";
  WriteFile(jvm, "a VM library");
  WriteFile(otherJvm, "another VM library");
  WriteFile(archive, "archived classes");
  std::string why;

  // Nothing made: no options and nothing to say.
  EXPECT_TRUE(JVM_ClassArchiveOptions(dir, jvm, {}, &why).empty());
  EXPECT_EQ("", why);

  WriteFile(dir + JDB_CLASS_ARCHIVE_STAMP, JVM_ClassArchiveStamp(archive, jvm));
  std::vector<std::string> options = JVM_ClassArchiveOptions(dir, jvm, {"-Xmx256m"}, &why);
  EXPECT_TRUE(Has(options, "-XX:SharedArchiveFile=" + archive));
  EXPECT_TRUE(Has(options, "-Xshare:auto"));
  EXPECT_EQ("", why);
  EXPECT_TRUE(JVM_ClassArchiveOptions("", jvm, {}, &why).empty());

  struct Case {
    const char* what;
    std::vector<std::string> user;
    bool otherVm;
    const char* reason;  // in *why
  } cases[] = {
      {"user turns sharing off", {"-Xcheck:jni", "-Xshare:off"}, false, "ZNT_JVM_OPTS"},
      {"user names an archive", {"-XX:SharedArchiveFile=/x.jsa"}, false, "ZNT_JVM_OPTS"},
      {"user writes an archive", {"-XX:ArchiveClassesAtExit=/x.jsa"}, false, "ZNT_JVM_OPTS"},
      {"another VM library", {}, true, "another Java VM"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(JVM_ClassArchiveOptions(dir, c.otherVm ? otherJvm : jvm, c.user, &why).empty()) << c.what;
    EXPECT_NE(std::string::npos, why.find(c.reason)) << c.what << ": " << why;
    EXPECT_NE(std::string::npos, why.find(archive)) << c.what << ": " << why;
  }

  // An archive rewritten or cut short after it was stamped.
  WriteFile(archive, "archived");
  EXPECT_TRUE(JVM_ClassArchiveOptions(dir, jvm, {}, &why).empty());
  EXPECT_NE(std::string::npos, why.find("changed since")) << why;
  // A stamp of another kind.
  WriteFile(dir + JDB_CLASS_ARCHIVE_STAMP, "something else\n");
  EXPECT_TRUE(JVM_ClassArchiveOptions(dir, jvm, {}, &why).empty());
  RemoveTree(dir);
}

TEST(ClassArchive, NoArchiveWithoutTheJar) {
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  std::string message;
  EXPECT_EQ(-1, JVM_MakeClassArchive(dir, "java.lang.Object\n", 60, &message));
  EXPECT_NE(std::string::npos, message.find("ifxjdbc.jar")) << message;
  struct stat st {};
  EXPECT_NE(0, stat((dir + JDB_CLASS_ARCHIVE).c_str(), &st));
  RemoveTree(dir);
}

enum class Damage { kNone, kGarbageRestamped, kChangedSinceStamped, kMissing };

// The classes the tests archive: the stand-in's data source, and a JDK class
// the JDK's own archive lacks.
constexpr const char* kClasses = "com.informix.jdbcx.IfxDataSource\njava.sql.DriverManager\nno.such.Class\n";

// The child of the death tests: makes the archive for a copy of the stand-in
// jar's directory, damages it as told, starts the driver's VM over that
// directory and loads the data-source class through the driver's loader.
// Exits 0 when the VM mapped the archive exactly when it should and took the
// class from it then (and from the jar otherwise).
[[noreturn]] void StartOverArchive(Damage damage) {
  const std::string dir = MakeTempDir();
  if (dir.empty()) std::_Exit(2);
  WriteFile(dir + "ifxjdbc.jar", ReadFile(std::string(KX_STANDIN_JAR_DIR) + "/ifxjdbc.jar"));
  std::string message;
  if (JVM_MakeClassArchive(dir, kClasses, 300, &message) != 0) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::_Exit(3);
  }
  std::string jvm;
  if (!JVM_FindLibrary(&jvm)) std::_Exit(4);
  const std::string archive = dir + JDB_CLASS_ARCHIVE;
  switch (damage) {
    case Damage::kNone: break;
    case Damage::kGarbageRestamped:
      // The worst case: a stamp that vouches for a file that is no archive.
      WriteFile(archive, std::string(100000, 'x'));
      WriteFile(dir + JDB_CLASS_ARCHIVE_STAMP, JVM_ClassArchiveStamp(archive, jvm));
      break;
    case Damage::kChangedSinceStamped:
      // Cut short after it was made: mapped, it could end the process.
      if (truncate(archive.c_str(), 100000) != 0) std::_Exit(5);
      break;
    case Damage::kMissing:
      unlink(archive.c_str());
      break;
  }
  const std::string log = dir + "load-%p.txt";
  setenv("ZNT_JVM_OPTS", ("-Xcheck:jni -Xlog:class+load=info:file=" + log).c_str(), 1);
  JDB_SetJarDir(dir.c_str());
  uint32_t h = 0;
  if (JVM_AllocServer(nullptr, &h) != 0) {
    std::fprintf(stderr, "%s\n", JVM_LastFailure());
    std::_Exit(6);
  }
  auto* je = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, h));
  JConn c{};
  c.jni = JVM_AttachThread();
  if (je == nullptr || c.jni == nullptr) std::_Exit(7);
  if (JC_LoadClass(&c, je->loader, "com/informix/jdbcx/IfxDataSource") == nullptr) std::_Exit(8);
  // The host VM's own log (the option check's child writes one too).
  const std::string pid = std::to_string(static_cast<long>(getpid()));
  const std::string loads = ReadFile(dir + "load-" + pid + ".txt");
  if (loads.find("com.informix.jdbcx.IfxDataSource") == std::string::npos) std::_Exit(9);
  const bool fromArchive =
      loads.find("com.informix.jdbcx.IfxDataSource source: shared objects file (top)") != std::string::npos;
  if (fromArchive != (damage == Damage::kNone)) std::_Exit(10);
  RemoveTree(dir);
  std::_Exit(0);
}

TEST(ClassArchiveDeathTest, MadeArchiveIsMappedAndItsClassesComeFromIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartOverArchive(Damage::kNone), ::testing::ExitedWithCode(0), "");
}

TEST(ClassArchiveDeathTest, DamagedStaleOrMissingArchiveLeavesAWorkingVm) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartOverArchive(Damage::kGarbageRestamped), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(StartOverArchive(Damage::kChangedSinceStamped), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(StartOverArchive(Damage::kMissing), ::testing::ExitedWithCode(0), "");
}

}  // namespace
