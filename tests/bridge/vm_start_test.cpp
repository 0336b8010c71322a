// Starting the Java VM when things go wrong: a library that is missing or
// cannot be loaded, options the VM refuses by ending its process, and a VM
// whose start failed once. The host process always goes on, with the VM's own
// words in the failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_vmcheck.h"

using namespace kx;

namespace {

// The JDK the tests were built with: two levels above its javac.
std::string JdkHome() {
  char real[PATH_MAX];
  if (realpath(KX_TEST_JAVAC, real) == nullptr) return {};
  std::string path(real);
  for (int up = 0; up < 2; ++up) path.resize(path.rfind('/'));
  return path;
}

std::string TempDir(const char* stem) {
  std::string pattern = std::string("/tmp/") + stem + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? buf.data() : "";
}

// A Java home with lib/server/libjvm.so made by make(path).
template <class Make>
std::string FakeHome(const char* stem, Make make) {
  std::string home = TempDir(stem);
  mkdir((home + "/lib").c_str(), 0700);
  mkdir((home + "/lib/server").c_str(), 0700);
  make(home + "/lib/server/libjvm.so");
  return home;
}

void Remove(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(VmStart, MissingAndUnloadableLibrariesAreToldApart) {
  const std::string nowhere = TempDir("kxnojvm");
  const std::string corrupt = FakeHome("kxbadjvm", [](const std::string& lib) {
    std::ofstream(lib) << "this is not a shared object\n";
  });
  std::string failure;
  EXPECT_FALSE(JVM_LoadLibraryFrom({nowhere, corrupt}, &failure));
  EXPECT_TRUE(Has(failure, corrupt + "/lib/server/libjvm.so cannot be loaded: ")) << failure;
  EXPECT_TRUE(Has(failure, "libjvm.so not found; tried " + nowhere + "/lib/server/libjvm.so"))
      << failure;
  EXPECT_FALSE(Has(failure, "tried " + nowhere + "/lib/server/libjvm.so, ")) << failure;

  EXPECT_FALSE(JVM_LoadLibraryFrom({corrupt}, &failure));
  EXPECT_FALSE(Has(failure, "not found")) << failure;
  Remove(nowhere);
  Remove(corrupt);
}

// The options the users tried, and sound ones: the launcher's child
// refuses the first with the VM's own words and accepts the others, also
// options the VM does not know (the host's VM passes over them too).
TEST(VmStart, OptionsAreTriedInAChild) {
  const std::string launcher = JVM_LauncherNear(JdkHome() + "/lib/server/libjvm.so");
  ASSERT_FALSE(launcher.empty()) << JdkHome();
  struct Case {
    std::vector<std::string> options;
    VmOptionCheck expected;
    const char* words;
  } cases[] = {
      {{"-Xmx1k"}, VmOptionCheck::kRejected, "Too small maximum heap"},
      {{"-XX:+UseSerialGC", "-XX:+UseParallelGC"}, VmOptionCheck::kRejected,
       "Multiple garbage collectors selected"},
      {{"-agentlib:nosuch"}, VmOptionCheck::kRejected, "Could not find agent library nosuch"},
      {{"-Xmx100000g"}, VmOptionCheck::kRejected, "Could not reserve enough space"},
      {{"-Xss1k"}, VmOptionCheck::kRejected, "stack size specified is too small"},
      {{"-Xmx64m", "-Dkx.spaced=a b"}, VmOptionCheck::kAccepted, ""},
      {{"-Xnonsense", "-XX:+NoSuchFlag"}, VmOptionCheck::kAccepted, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    std::string message;
    EXPECT_EQ(JVM_CheckOptions(launcher, c.options, 60, &message), c.expected) << message;
    EXPECT_TRUE(Has(message, c.words)) << message;
    // Only the VM's words: not the launcher's nor the banner.
    EXPECT_FALSE(Has(message, "Could not create the Java Virtual Machine")) << message;
    EXPECT_FALSE(Has(message, "Error occurred during initialization")) << message;
    EXPECT_FALSE(Has(message, "\n")) << message;
  }
}

TEST(VmStart, ALauncherThatCannotAnswerLeavesTheOptionsUnchecked) {
  std::string message;
  EXPECT_EQ(JVM_CheckOptions("", {"-Xmx64m"}, 5, &message), VmOptionCheck::kUnchecked);
  const std::string dir = TempDir("kxslowjava");
  const std::string slow = dir + "/java";
  std::ofstream(slow) << "#!/bin/sh\nexec sleep 60\n";
  chmod(slow.c_str(), 0700);
  EXPECT_EQ(JVM_CheckOptions(slow, {"-Xmx64m"}, 1, &message), VmOptionCheck::kUnchecked);
  EXPECT_TRUE(Has(message, "within 1 s")) << message;
  EXPECT_EQ(JVM_CheckOptions(dir + "/missing", {"-Xmx64m"}, 5, &message),
            VmOptionCheck::kUnchecked);
  Remove(dir);
}

// The children below start from a process without a VM.
[[noreturn]] void Exit(bool ok) { std::_Exit(ok && !::testing::Test::HasFailure() ? 0 : 1); }

// Options the VM refuses by ending its process fail the allocation instead;
// the reason is the VM's own and is the same for every later attempt.
void RefusedOptionsFailTheAllocation(const char* options, const char* words) {
  setenv("ZNT_JVM_OPTS", options, 1);
  uint32_t h = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_NE(0, JVM_AllocServer(nullptr, &h)) << attempt;
    const std::string reason = JVM_TakeAllocFailure();
    EXPECT_TRUE(Has(reason, words)) << reason;
    EXPECT_TRUE(Has(reason, "ZNT_JVM_OPTS")) << reason;
    EXPECT_EQ(JVM_TakeAllocFailure(), "");  // taken once
  }
  EXPECT_EQ(nullptr, JVM_Current());
  Exit(true);
}

TEST(VmStartDeathTest, RefusedOptionsFailTheAllocationAndTheProcessGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RefusedOptionsFailTheAllocation("-Xcheck:jni -Xmx1k", "Too small maximum heap"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(RefusedOptionsFailTheAllocation("-agentlib:nosuch", "Could not find agent library"),
              ::testing::ExitedWithCode(0), "");
}

// A VM whose start failed in the process (here: no launcher to try the
// options with, and options the VM refuses without ending the process) is not
// started a second time: the VM cannot, and would abort the process.
void FailedStartIsRemembered() {
  const std::string real = JdkHome() + "/lib/server/libjvm.so";
  const std::string home = FakeHome("kxnolauncher", [&](const std::string& lib) {
    EXPECT_EQ(0, symlink(real.c_str(), lib.c_str()));
  });
  setenv("JAVA_HOME", home.c_str(), 1);
  setenv("ZNT_JVM_OPTS", "-Xss1k", 1);
  uint32_t h = 0;
  EXPECT_NE(0, JVM_AllocServer(nullptr, &h));
  const std::string first = JVM_TakeAllocFailure();
  EXPECT_TRUE(Has(first, "Can't create Java VM")) << first;
  EXPECT_TRUE(Has(first, "stack size specified is too small")) << first;
  setenv("ZNT_JVM_OPTS", "-Xmx64m", 1);  // better options come too late
  EXPECT_NE(0, JVM_AllocServer(nullptr, &h));
  EXPECT_EQ(JVM_TakeAllocFailure(), first);
  Remove(home);
  Exit(true);
}

TEST(VmStartDeathTest, AFailedStartIsRememberedAndNotRepeated) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FailedStartIsRemembered(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
