#include "drv_jdbc/j_cds.h"

#include <fcntl.h>
#include <jni.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_vmcheck.h"

namespace kx {

const char* const JDB_CLASS_ARCHIVE = "kestrix-classes.jsa";
const char* const JDB_CLASS_ARCHIVE_STAMP = "kestrix-classes.stamp";

namespace {

// Size and time of a file: what changes when it is replaced, rewritten or cut short.
std::string FileLine(const char* what, const struct stat& st) {
  return std::string(what) + ' ' + std::to_string(static_cast<long long>(st.st_size)) + ' ' +
         std::to_string(static_cast<long long>(st.st_mtim.tv_sec)) + '.' +
         std::to_string(static_cast<long long>(st.st_mtim.tv_nsec));
}

// Whether the user's options choose about class sharing themselves (their
// own archive, none, or one to be written).
bool UserDealsWithSharing(const std::vector<std::string>& user) {
  for (const std::string& o : user) {
    for (const char* word : {"-Xshare", "SharedArchiveFile", "ArchiveClassesAtExit", "SharedClassListFile",
                             "DumpLoadedClassList"}) {
      if (o.find(word) != std::string::npos) return true;
    }
  }
  return false;
}

bool ReadSmallFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}

// Runs in the child: the VM writes the archive when System.exit ends it.
[[noreturn]] void TrainAndExit(const std::string& workDir, const std::vector<std::string>& options,
                               const std::string& jarDir, const char* classNames) {
  if (chdir(workDir.c_str()) != 0) _exit(2);
  std::string output;
  if (JVM_Create(options, &output) != 0) {
    std::fprintf(stderr, "%s\n", JVM_ReasonText(output).c_str());
    _exit(3);
  }
  JNIEnv* env = JVM_AttachThread();
  if (env == nullptr) _exit(4);
  jobject loader = JC_CreateClassLoader(env, JDB_JarPaths(jarDir).c_str());
  jclass training = JC_DefineClassTrainingClass(env);
  if (loader == nullptr || training == nullptr) _exit(5);
  jmethodID load =
      env->GetStaticMethodID(training, "load", "(Ljava/lang/ClassLoader;Ljava/lang/String;)I");
  jstring names = load != nullptr ? env->NewStringUTF(classNames) : nullptr;
  if (env->ExceptionCheck() || names == nullptr) _exit(6);
  env->CallStaticIntMethod(training, load, loader, names);
  if (env->ExceptionCheck()) _exit(7);
  // A connect that the first port refuses at once: no server is needed.
  jmethodID connect = env->GetStaticMethodID(training, "connect",
                                             "(Ljava/lang/ClassLoader;Ljava/lang/String;Ljava/lang/String;)V");
  jstring dataSource = connect != nullptr ? env->NewStringUTF("com.informix.jdbcx.IfxDataSource") : nullptr;
  jstring url = dataSource != nullptr ? env->NewStringUTF("jdbc:postgresql://127.0.0.1:1/kestrix") : nullptr;
  if (env->ExceptionCheck() || url == nullptr) _exit(7);
  env->CallStaticVoidMethod(training, connect, loader, dataSource, url);
  env->ExceptionClear();
  jclass system = env->FindClass("java/lang/System");
  jmethodID exitMethod = system != nullptr ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
  if (env->ExceptionCheck() || exitMethod == nullptr) _exit(8);
  // The VM says on its way out that it ends the process; here that is the plan.
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull >= 0) dup2(devNull, 2);
  env->CallStaticVoidMethod(system, exitMethod, 0);
  _exit(9);
}

// Waits for the child; false when it outlives the time (it is then killed).
bool WaitFor(pid_t pid, int timeoutSeconds, int* status) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL);
      while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

std::string JVM_ClassArchiveStamp(const std::string& archivePath, const std::string& jvmPath) {
  struct stat archive {};
  struct stat jvm {};
  if (stat(archivePath.c_str(), &archive) != 0 || stat(jvmPath.c_str(), &jvm) != 0) return {};
  // The archive's own path stays out: an installation staged in one place
  // and moved to another keeps its archive.
  return "kestrix class-data archive 1\n" + FileLine("vm", jvm) + ' ' + jvmPath + '\n' +
         FileLine("archive", archive) + '\n';
}

std::vector<std::string> JVM_ClassArchiveOptions(const std::string& jarDir, const std::string& jvmPath,
                                                 const std::vector<std::string>& user, std::string* why) {
  why->clear();
  if (jarDir.empty() || jvmPath.empty()) return {};
  const std::string archive = jarDir + JDB_CLASS_ARCHIVE;
  std::string stamp;
  if (!ReadSmallFile(jarDir + JDB_CLASS_ARCHIVE_STAMP, &stamp)) return {};  // none made
  if (UserDealsWithSharing(user)) {
    *why = "The class-data archive " + archive + " is left out: the options in ZNT_JVM_OPTS choose about class sharing";
    return {};
  }
  // The VM reads ':' in the option as a separator between two archives.
  if (archive.find(':') != std::string::npos) {
    *why = "The class-data archive " + archive + " is left out: the VM cannot name a file with ':' in its path";
    return {};
  }
  const std::string expected = JVM_ClassArchiveStamp(archive, jvmPath);
  if (expected.empty() || expected != stamp) {
    *why = "The class-data archive " + archive + " is left out: it was made for another Java VM (" + jvmPath +
           ") or has changed since; kestrix-cds makes it again";
    return {};
  }
  // The archive only saves time: whatever the VM thinks of it (a base archive
  // of the JDK's that changed under it, options that do not fit it) it says
  // nothing about it on the application's output and goes on without it.
  return {"-Xshare:auto", "-XX:SharedArchiveFile=" + archive, "-Xlog:cds*=off"};
}

int JVM_MakeClassArchive(const std::string& jarDir, const char* classNames, int timeoutSeconds,
                         std::string* message) {
  // The VM runs in a directory of its own: every path it is given is absolute.
  char* real = realpath(jarDir.empty() ? "." : jarDir.c_str(), nullptr);
  if (real == nullptr) {
    *message = "No class-data archive made: " + jarDir + ": " + std::strerror(errno);
    return -1;
  }
  std::string dir(real);
  std::free(real);
  if (dir.back() != '/') dir += '/';
  const std::string firstJar = JDB_JarPaths(dir).substr(0, JDB_JarPaths(dir).find(';'));
  if (access(firstJar.c_str(), R_OK) != 0) {
    *message = "No class-data archive made: " + firstJar + " cannot be read";
    return -1;
  }
  if (JVM_Current() != nullptr) {
    *message = "No class-data archive made: a Java VM already runs in this process";
    return -1;
  }
  std::string jvm;
  if (!JVM_FindLibrary(&jvm)) {
    *message = std::string("No class-data archive made: ") + JVM_LastFailure();
    return -1;
  }
  const std::string archive = dir + JDB_CLASS_ARCHIVE;
  const std::string stamp = dir + JDB_CLASS_ARCHIVE_STAMP;
  // An old archive is no longer used from here on, whatever happens next.
  if (unlink(stamp.c_str()) != 0 && errno != ENOENT) {
    *message = "No class-data archive made: " + stamp + " cannot be removed: " + std::strerror(errno);
    return -1;
  }
  const std::string pid = std::to_string(static_cast<long>(getpid()));
  const std::string made = dir + "." + JDB_CLASS_ARCHIVE + "." + pid;
  unlink(made.c_str());

  // The driver's options without the user's, and the VM's class path "."
  // an empty directory: the archive may not depend on a directory's contents.
  std::vector<std::string> options, user;
  if (JVM_VmOptions(&options, &user) != 0) {
    *message = "No class-data archive made: out of memory";
    return -1;
  }
  options.resize(options.size() - user.size());
  const char* tmp = std::getenv("TMPDIR");
  std::string work = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrix-cds-XXXXXX";
  if (mkdtemp(work.data()) == nullptr) {
    *message = "No class-data archive made: no temporary directory: " + std::string(std::strerror(errno));
    return -1;
  }
  std::vector<std::string> dumping = options;
  dumping.push_back("-XX:ArchiveClassesAtExit=" + made);
  // Its notes on the classes it leaves out (those the driver defines itself,
  // event classes) are no news at an installation.
  dumping.push_back("-Xlog:cds=error,cds+dynamic=error");

  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) TrainAndExit(work, dumping, dir, classNames);
  int status = 0;
  const bool ended = child > 0 && WaitFor(child, timeoutSeconds, &status);
  rmdir(work.c_str());
  struct stat st {};
  if (child < 0) {
    *message = "No class-data archive made: no child process: " + std::string(std::strerror(errno));
  } else if (!ended) {
    *message = "No class-data archive made: the Java VM did not end within " + std::to_string(timeoutSeconds) + " s";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *message = "No class-data archive made: the Java VM that loads the classes failed (status " +
               std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
  } else if (stat(made.c_str(), &st) != 0 || st.st_size == 0) {
    *message = "No class-data archive made: the Java VM wrote none";
  } else {
    // The archive must map in a VM of the driver's options, else it is not kept.
    std::vector<std::string> trying = options;
    trying.push_back("-Xshare:on");
    trying.push_back("-XX:SharedArchiveFile=" + made);
    std::string why;
    if (JVM_CheckOptions(JVM_LauncherNear(jvm), trying, JVM_OPTION_CHECK_SECONDS * 3, &why) ==
        VmOptionCheck::kRejected) {
      *message = "No class-data archive made: the Java VM does not take the archive it wrote: " + why;
    } else if (rename(made.c_str(), archive.c_str()) != 0) {
      *message = "No class-data archive made: " + archive + " cannot be written: " + std::strerror(errno);
    } else {
      const std::string text = JVM_ClassArchiveStamp(archive, jvm);
      const std::string stampMade = stamp + "." + pid;
      std::FILE* f = text.empty() ? nullptr : std::fopen(stampMade.c_str(), "we");
      bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
      if (f != nullptr) written = std::fclose(f) == 0 && written;
      if (written && rename(stampMade.c_str(), stamp.c_str()) == 0) {
        *message = "Class-data archive " + archive + " made (" + std::to_string(static_cast<long long>(st.st_size)) +
                   " bytes) for the Java VM " + jvm;
        return 0;
      }
      unlink(stampMade.c_str());
      *message = "No class-data archive made: " + stamp + " cannot be written";
    }
  }
  unlink(made.c_str());
  return -1;
}

}  // namespace kx
