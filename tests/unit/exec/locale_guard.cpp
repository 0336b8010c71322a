#include "locale_guard.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace kx::test {

namespace {

bool CommaDecimal() {
  const std::lconv* lc = std::localeconv();
  return lc != nullptr && std::strcmp(lc->decimal_point, ",") == 0;
}

// Removes the compiled locale when the test program ends.
struct PrivateDir {
  std::string path;
  ~PrivateDir() {
    if (!path.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  }
};

bool Try(const char* name) { return std::setlocale(LC_ALL, name) != nullptr && CommaDecimal(); }

}  // namespace

std::string UseCommaDecimalLocale(std::string* why) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
    if (Try(name)) return name;
  }
  // Not installed: compile one once per process into a private directory.
  static PrivateDir privateDir;
  std::string& dir = privateDir.path;
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/kx-test-locale-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) {
      *why = "cannot create a temporary directory";
      return {};
    }
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + base + "/de_DE.UTF-8' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    if (rc != 0) {
      *why = "no comma-decimal locale is installed and localedef failed (install the Debian "
             "package 'locales')";
      std::filesystem::remove_all(base);
      return {};
    }
    dir = base;
    setenv("LOCPATH", dir.c_str(), 1);
  }
  if (Try("de_DE.UTF-8")) return "de_DE.UTF-8 (compiled into " + dir + ")";
  *why = "the compiled de_DE.UTF-8 locale could not be selected";
  return {};
}

void UseCLocale() { std::setlocale(LC_ALL, "C"); }

}  // namespace kx::test
