#include "platform/process_info.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "util/errcodes.h"

namespace kx {
namespace {

TEST(Platform, CommandNameIsThisProgram) {
  char name[4096];
  ASSERT_EQ(PlatformCommandName(name, sizeof name), KX_OK);
  std::string s(name);
  EXPECT_EQ(s.substr(s.find_last_of('/') + 1), "test_util");
  char tiny[3];
  EXPECT_EQ(PlatformCommandName(tiny, sizeof tiny), KX_ERR_GENERAL);
  EXPECT_STREQ(tiny, "") << "never a cut name";
}

TEST(Platform, UserNameOfTheEffectiveUser) {
  char name[256];
  ASSERT_EQ(PlatformUserName(name, sizeof name), KX_OK);
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_STREQ(name, pw->pw_name);
  char tiny[1];
  EXPECT_EQ(PlatformUserName(tiny, sizeof tiny), KX_ERR_GENERAL);
}

TEST(Platform, ThreadIdsDifferPerThread) {
  int64_t mine = PlatformThreadId();
  EXPECT_EQ(mine, static_cast<int64_t>(getpid())) << "the main thread's id is the process id";
  int64_t other = 0;
  std::thread([&] { other = PlatformThreadId(); }).join();
  EXPECT_NE(other, mine);
  EXPECT_GT(other, 0);
}

TEST(Platform, ModulePathNamesAnExistingFile) {
  char path[4096];
  ASSERT_EQ(PlatformModulePath(path, sizeof path), KX_OK);
  struct stat st;
  EXPECT_EQ(stat(path, &st), 0) << path;
}

}  // namespace
}  // namespace kx
