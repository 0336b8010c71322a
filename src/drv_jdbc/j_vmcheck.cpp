#include "drv_jdbc/j_vmcheck.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace kx {

namespace {

constexpr size_t kMaxOutput = 16384;

// Options only the launcher reads: the VM in the host never sees them, so
// the child must not either.
constexpr const char* kLauncherOnlyEnv = "JDK_JAVA_OPTIONS=";

long long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Lines of the launcher and of the version banner: not the VM's reason.
bool NoiseLine(const std::string& line) {
  static const char* const kPrefixes[] = {
      "Error: Could not create the Java Virtual Machine", "Error: A fatal exception has occurred",
      "Error occurred during initialization of VM",       "openjdk version",
      "java version",                                     "OpenJDK Runtime Environment",
      "Java(TM) SE Runtime Environment",                  "Picked up ",
  };
  for (const char* p : kPrefixes) {
    if (StartsWith(line, p)) return true;
  }
  return line.find(" VM (build ") != std::string::npos;
}

}  // namespace

std::string JVM_ReasonText(const std::string& output) {
  std::string own, all;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    size_t lead = line.find_first_not_of(" \t");
    if (lead == std::string::npos) continue;
    line.erase(0, lead);
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    all += all.empty() ? line : " " + line;
    if (!NoiseLine(line)) own += own.empty() ? line : " " + line;
  }
  return own.empty() ? all : own;
}

namespace {

bool LooksRefused(const std::string& output) {
  return output.find("Error occurred during initialization of VM") != std::string::npos ||
         output.find("Could not create the Java Virtual Machine") != std::string::npos;
}

// Waits for the child until the deadline; kills it after that. The exit
// status, or -1 when it cannot be known (the host reaps its children itself).
int WaitChild(pid_t pid, long long deadline, bool* timedOut) {
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) return status;
    if (w < 0 && errno != EINTR) return -1;
    if (NowMs() >= deadline) break;
    timespec pause{0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  *timedOut = true;
  kill(pid, SIGKILL);
  for (;;) {
    pid_t w = waitpid(pid, &status, 0);
    if (w == pid) return status;
    if (w < 0 && errno != EINTR) return -1;
  }
}

}  // namespace

std::string JVM_LauncherNear(const std::string& libjvmPath) {
  std::string dir = libjvmPath;
  for (int up = 0; up < 5; ++up) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) return {};
    dir.resize(slash);
    std::string candidate = dir + "/bin/java";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

VmOptionCheck JVM_CheckOptions(const std::string& launcher, const std::vector<std::string>& options,
                               int timeoutSeconds, std::string* message) {
  message->clear();
  if (launcher.empty()) {
    *message = "no java launcher next to the Java VM library";
    return VmOptionCheck::kUnchecked;
  }
  // Unknown options are passed over as the host's VM passes over them; a
  // heap touched page by page at start would cost the child the whole heap.
  std::vector<std::string> args{launcher, "-XX:+IgnoreUnrecognizedVMOptions"};
  args.insert(args.end(), options.begin(), options.end());
  args.emplace_back("-XX:-AlwaysPreTouch");
  args.emplace_back("-version");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, kLauncherOnlyEnv, std::strlen(kLauncherOnlyEnv)) != 0) envp.push_back(*e);
  }
  envp.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *message = std::string("no pipe for the check: ") + std::strerror(errno);
    return VmOptionCheck::kUnchecked;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // The VM writes its reasons to standard output, the launcher to standard
  // error: both are read.
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  // The child starts with default signal handling whatever the host set.
  sigset_t all, none;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, launcher.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    *message = "cannot run " + launcher + ": " + std::strerror(spawned);
    return VmOptionCheck::kUnchecked;
  }

  const long long deadline = NowMs() + static_cast<long long>(timeoutSeconds) * 1000;
  std::string output;
  bool timedOut = false;
  for (;;) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timedOut = ready == 0;
      break;
    }
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    if (output.size() < kMaxOutput) {
      output.append(buffer, std::min(static_cast<size_t>(n), kMaxOutput - output.size()));
    }
  }
  close(fds[0]);
  const int status = WaitChild(pid, timedOut ? NowMs() : deadline, &timedOut);
  if (timedOut) {
    *message = "no answer from " + launcher + " within " + std::to_string(timeoutSeconds) + " s";
    return VmOptionCheck::kUnchecked;
  }
  bool refused = false;
  if (status == -1) {
    refused = LooksRefused(output);
  } else if (WIFEXITED(status)) {
    refused = WEXITSTATUS(status) != 0;
  } else {
    refused = true;
  }
  if (!refused) return VmOptionCheck::kAccepted;
  *message = JVM_ReasonText(output);
  if (message->empty()) {
    *message = WIFSIGNALED(status) ? "the Java VM ended by signal " + std::to_string(WTERMSIG(status))
                                   : "the Java VM did not start";
  }
  return VmOptionCheck::kRejected;
}

}  // namespace kx
