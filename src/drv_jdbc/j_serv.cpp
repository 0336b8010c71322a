#include "drv_jdbc/j_serv.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "drv_jdbc/j_cds.h"
#include "drv_jdbc/j_classes.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_vmcheck.h"
#include "util/errcodes.h"
#include "util/log.h"
#include "util/str_util.h"

#ifndef KX_BUILD_JDK_HOME
#define KX_BUILD_JDK_HOME ""
#endif

namespace kx {

HandleTable JDB_EnvTable;
HandleTable JDB_ConnTable;
HandleTable JDB_StmtTable;

const char* const JDB_JarList = "ifxjdbc.jar:ifxjdbcx.jar:ifxlang.jar:ifxlsupp.jar";

namespace {

constexpr jint kJniVersion = 0x00010004;
constexpr int kMaxUserOptions = 100;

using CreateVmFn = jint (*)(JavaVM**, void**, void*);
using GetVmsFn = jint (*)(JavaVM**, jsize, jsize*);

struct JvmState {
  JavaVM* vm = nullptr;
  JNIEnv* creator = nullptr;   // never detached by the driver
  int openCount = 0;
  uint32_t envHandle = 0;
  std::unordered_set<JNIEnv*> attached;  // threads the driver attached
};

// One lock over the open count, first-time set-up, teardown and the set of
// attached threads. Recursive: the last close attaches its thread under it.
std::recursive_mutex gHostLock;
char gLastFailure[JDB_MSG_TEXT_MAX + 1];
// Why the calling thread's last server allocation failed, until it is taken.
thread_local std::string tAllocFailure;

CreateVmFn gCreateVm = nullptr;
GetVmsFn gGetVms = nullptr;

// A process gets one attempt at creating its VM: after a failed one the VM
// cannot be created again (a second JNI_CreateJavaVM aborts the process), so
// the failure is kept and every later allocation answers with it.
bool gCreateFailed = false;

// The host's state that needs a constructor is made on first use, never by a
// static initialiser: the library's load constructor may run before this
// file's initialisers (the link order decides), and a later initialiser would
// wipe what the load had set.
struct HostState {
  JvmState vm;
  std::string jarDir;
  std::string jvmPath;  // the libjvm.so gCreateVm and gGetVms come from
  std::string createFailure;
  // The last option list the check refused, and why: the same list is
  // refused again without another child.
  std::vector<std::string> refusedOptions;
  std::string refusal;
  std::string vmOutput;  // what the VM writes while it starts
};

HostState& Host() {
  static HostState host;
  return host;
}

void SetFailure(const std::string& text) {
  std::snprintf(gLastFailure, sizeof gLastFailure, "%s", text.c_str());
  try {
    tAllocFailure = text;
  } catch (const std::bad_alloc&) {
    tAllocFailure.clear();
  }
  LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", gLastFailure);
}

// ---- what the VM writes and how it ends the process -----------------------------
// The VM writes its messages through the "vfprintf" hook and calls "exit" or
// "abort" just before it ends the process itself. While it starts, its words
// are kept for the connect error; whenever it ends the process, the log says
// that the VM did it and why, so the end of the application is never silent.

std::mutex gVmOutputLock;
std::atomic<bool> gVmStarting{false};
constexpr size_t kVmOutputMax = 8192;

extern "C" jint JNICALL VmWriteHook(FILE* stream, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const jint written = std::vfprintf(stream, format, args);
  std::fflush(stream);
  {
    std::lock_guard<std::mutex> hold(gVmOutputLock);
    if (gVmStarting && Host().vmOutput.size() < kVmOutputMax) {
      char text[1024];
      std::vsnprintf(text, sizeof text, format, copy);
      try {
        Host().vmOutput += text;
      } catch (const std::bad_alloc&) {
      }
    }
  }
  va_end(copy);
  return written;
}

extern "C" void JNICALL VmExitHook(jint code) {
  LogAt(LOG_CRIT, __FILE__, __LINE__,
        "The Java VM ends the process with exit status %d (System.exit or Runtime.halt in Java code)",
        static_cast<int>(code));
}

extern "C" void JNICALL VmAbortHook() {
  // Outside the start this runs in a VM that is crashing: a fixed text and a
  // plain write, nothing that could need a lock.
  static const char kCrash[] = "The Java VM aborts the process\n";
  if (!gVmStarting) {
    ssize_t ignored = write(2, kCrash, sizeof kCrash - 1);
    (void)ignored;
    return;
  }
  std::string reason;
  {
    std::lock_guard<std::mutex> hold(gVmOutputLock);
    reason = JVM_ReasonText(Host().vmOutput);
  }
  LogAt(LOG_CRIT, __FILE__, __LINE__, "The Java VM failed to start and ends the process: %s",
        reason.empty() ? "no reason given" : reason.c_str());
}

// The VM once made or found, for JVM_ThreadEnv to ask without the host lock.
std::atomic<JavaVM*> gThreadEnvVm{nullptr};

void KeepVm(JavaVM* vm) {
  Host().vm.vm = vm;
  gThreadEnvVm.store(vm, std::memory_order_release);
}

// Detaches, when its thread ends, a thread the driver attached. A thread-
// specific key's destructor runs after every thread_local destructor of the
// thread, some of which still call Java (connections a thread leaves open
// are closed when it ends); the library is never unloaded (nodelete), so
// the destructor stays callable.
pthread_key_t gDetachKey;
bool gDetachKeyMade = false;
std::once_flag gDetachKeyOnce;

void DetachAtThreadEnd(void*) { JVM_DetachThread(); }

void MarkAttached(bool attached) {
  std::call_once(gDetachKeyOnce,
                 [] { gDetachKeyMade = pthread_key_create(&gDetachKey, DetachAtThreadEnd) == 0; });
  if (!gDetachKeyMade) return;
  pthread_setspecific(gDetachKey, attached ? reinterpret_cast<void*>(1) : nullptr);
}

// Loads a VM library and takes its two entry points; *why says what went
// wrong otherwise.
bool TryLibrary(const char* path, int flags, std::string* why) {
  dlerror();
  void* lib = dlopen(path, flags);
  if (lib == nullptr) {
    const char* error = dlerror();
    if (why != nullptr) *why = error != nullptr ? error : "dlopen failed";
    return false;
  }
  auto create = reinterpret_cast<CreateVmFn>(dlsym(lib, "JNI_CreateJavaVM"));
  auto get = reinterpret_cast<GetVmsFn>(dlsym(lib, "JNI_GetCreatedJavaVMs"));
  if (create == nullptr || get == nullptr) {
    dlclose(lib);
    if (why != nullptr) *why = "it is no Java VM library (no JNI_CreateJavaVM)";
    return false;
  }
  Dl_info info{};
  Host().jvmPath = dladdr(reinterpret_cast<void*>(create), &info) != 0 && info.dli_fname != nullptr
                 ? info.dli_fname
                 : path;
  gCreateVm = create;
  gGetVms = get;
  return true;  // kept loaded for the life of the process
}

std::string JdkOfJavac() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string list(path);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string candidate = list.substr(start, end - start) + "/javac";
    start = end + 1;
    if (candidate.size() <= 6 || access(candidate.c_str(), X_OK) != 0) continue;
    char* real = realpath(candidate.c_str(), nullptr);
    if (real == nullptr) continue;
    std::string r(real);
    std::free(real);
    size_t slash = r.rfind('/');                       // .../bin/javac
    if (slash == std::string::npos) continue;
    size_t home = r.rfind('/', slash - 1);             // .../bin
    if (home == std::string::npos) continue;
    return r.substr(0, home);
  }
  return {};
}

// Finds libjvm: a VM already in the process first, then the usual places.
bool LoadJvmLibrary() {
  if (gCreateVm != nullptr) return true;
  try {
    if (TryLibrary("libjvm.so", RTLD_NOW | RTLD_NOLOAD, nullptr)) return true;
    std::vector<std::string> homes;
    if (const char* jh = std::getenv("JAVA_HOME"); jh != nullptr && *jh != '\0') {
      homes.emplace_back(jh);
    }
    homes.emplace_back("/usr/lib/jvm/default-java");
    std::string javac = JdkOfJavac();
    if (!javac.empty()) homes.push_back(javac);
    if (KX_BUILD_JDK_HOME[0] != '\0') homes.emplace_back(KX_BUILD_JDK_HOME);
    std::string failure;
    if (JVM_LoadLibraryFrom(homes, &failure)) return true;
    SetFailure(failure);
  } catch (const std::bad_alloc&) {
    SetFailure("Can't load the Java VM (out of memory)");
  }
  return false;
}

const char* JniErrorText(int code) {
  switch (code) {
    case JNI_EINVAL: return "invalid arguments";
    case JNI_EEXIST: return "VM already created";
    case JNI_ENOMEM: return "not enough memory";
    case JNI_EVERSION: return "JNI version error";
    case JNI_EDETACHED: return "thread detached from the VM";
    default: return "unknown error";
  }
}

// Attaches the calling thread and records it. Caller holds gHostLock.
JNIEnv* AttachLocked() {
  JNIEnv* env = nullptr;
  jint rc = Host().vm.vm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion);
  if (rc == JNI_OK && env != nullptr) return env;
  if (rc == JNI_EVERSION) return nullptr;
  JavaVMAttachArgs args{kJniVersion, nullptr, nullptr};
  rc = Host().vm.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &args);
  if (rc < 0 || env == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't attach JVM to current thread");
    return nullptr;
  }
  Host().vm.attached.insert(env);
  MarkAttached(true);
  return env;
}

// Options in the way ZNT_JVM_OPTS is cut: a piece ends at white space that is
// directly followed by '-'; trailing blanks are cut; at most 100 pieces.
std::vector<std::string> SplitUserOptions(const char* value) {
  std::vector<std::string> out;
  std::string copy(StrSkipSpace(value));
  size_t start = 0;
  size_t n = copy.size();
  for (size_t i = 0; i <= n && static_cast<int>(out.size()) < kMaxUserOptions; ++i) {
    bool end = i == n || (std::isspace(static_cast<unsigned char>(copy[i])) && i + 1 < n &&
                          copy[i + 1] == '-');
    if (!end) continue;
    std::string piece = copy.substr(start, i - start);
    std::vector<char> buf(piece.begin(), piece.end());
    buf.push_back('\0');
    StrTrimRight(buf.data());
    if (buf[0] != '\0') out.emplace_back(buf.data());
    start = i + 1;
  }
  return out;
}

// The system class loader, in which the support classes are defined (the
// null loader cannot see javax.transaction.xa on current VMs).
jobject SystemLoader(JNIEnv* env) {
  jclass cl = env->FindClass("java/lang/ClassLoader");
  if (env->ExceptionCheck() || cl == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  jmethodID get = env->GetStaticMethodID(cl, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
  jobject loader = nullptr;
  if (!env->ExceptionCheck() && get != nullptr) loader = env->CallStaticObjectMethod(cl, get);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    loader = nullptr;
  }
  env->DeleteLocalRef(cl);
  return loader;
}

jclass FindOrDefine(JNIEnv* env, const char* name, const unsigned char* bytes, unsigned size) {
  jclass cls = env->FindClass(name);
  if (!env->ExceptionCheck() && cls != nullptr) return cls;
  env->ExceptionClear();
  jobject loader = SystemLoader(env);
  if (loader == nullptr) return nullptr;
  cls = env->DefineClass(name, loader, reinterpret_cast<const jbyte*>(bytes),
                         static_cast<jsize>(size));
  env->DeleteLocalRef(loader);
  if (env->ExceptionCheck() || cls == nullptr) {
    // Another thread may have defined it first.
    env->ExceptionClear();
    if (cls != nullptr) env->DeleteLocalRef(cls);
    cls = env->FindClass(name);
    if (env->ExceptionCheck() || cls == nullptr) {
      env->ExceptionClear();
      return nullptr;
    }
  }
  return cls;
}

void FreeEnvRecord(JEnv* je) {
  JDB_MsgFreeList(&je->msgs);
  delete je;
}

}  // namespace

namespace {
// What the layers above the agent asked to hear of; empty until the driver's
// wiring fills it at load.
JDB_UpperHooks gUpperHooks{};
}  // namespace

void JDB_SetUpperHooks(const JDB_UpperHooks& hooks) { gUpperHooks = hooks; }

namespace {
SetupValueFn gSetupReader = nullptr;
}  // namespace

void JDB_SetSetupReader(SetupValueFn reader) { gSetupReader = reader; }

void JDB_SetJarDir(const char* dir) {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  Host().jarDir = dir != nullptr ? dir : "";
  if (!Host().jarDir.empty() && Host().jarDir.back() != '/') Host().jarDir += '/';
}

const char* JDB_GetJarDir() { return Host().jarDir.c_str(); }

std::mutex& JDB_AgentMutex() {
  static std::mutex m;
  return m;
}

const char* JVM_LastFailure() { return gLastFailure; }

JavaVM* JVM_Current() {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  return Host().vm.vm;
}

int JVM_AttachedCount() {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  return static_cast<int>(Host().vm.attached.size());
}

int JVM_OpenCount() {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  return Host().vm.openCount;
}

// Whether the user's options size the young generation themselves.
bool SizesYoungGeneration(const std::vector<std::string>& user) {
  for (const std::string& o : user) {
    if (o.find("NewSize") != std::string::npos || o.rfind("-Xmn", 0) == 0) return true;
  }
  return false;
}

bool JVM_LoadLibraryFrom(const std::vector<std::string>& homes, std::string* failure) {
  std::string missing, broken;
  for (const std::string& home : homes) {
    std::string lib = home + "/lib/server/libjvm.so";
    std::string why;
    if (TryLibrary(lib.c_str(), RTLD_NOW | RTLD_GLOBAL, &why)) return true;
    if (access(lib.c_str(), F_OK) != 0) {
      missing += missing.empty() ? lib : ", " + lib;
    } else {
      // There, but unusable: damaged, built for another machine, missing a
      // library of its own.
      broken += (broken.empty() ? "" : "; ") + lib + " cannot be loaded: " + why;
    }
  }
  std::string text = "Can't load the Java VM (" + broken;
  if (!missing.empty()) {
    text += (broken.empty() ? "" : "; ") + std::string("libjvm.so not found; tried ") + missing;
  }
  if (broken.empty() && missing.empty()) text += "no Java home to look in";
  *failure = text + ")";
  return false;
}

std::string JVM_TakeAllocFailure() {
  std::string text;
  text.swap(tAllocFailure);
  return text;
}

bool JVM_OptionsNeedCheck(const std::vector<std::string>& userOptions) {
  if (!userOptions.empty()) return true;
  // Options the VM itself reads from the environment, in the host as in the child.
  for (const char* name : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *StrSkipSpace(value) != '\0') return true;
  }
  return false;
}

// Whether the user's options set the number of compiler threads
// (-XX:CICompilerCount, or -XX:+CICompilerCountPerCPU, which overrides it).
bool NamesCompilerCount(const std::vector<std::string>& user) {
  for (const std::string& o : user) {
    if (o.find("CICompilerCount") != std::string::npos) return true;
  }
  return false;
}

// Whether the user's options choose a garbage collector (-XX:+UseG1GC, say).
bool ChoosesCollector(const std::vector<std::string>& user) {
  for (const std::string& o : user) {
    if (o.rfind("-XX:+Use", 0) == 0 && o.size() > 10 && o.compare(o.size() - 2, 2, "GC") == 0) return true;
  }
  return false;
}

int JVM_VmOptions(std::vector<std::string>* out, std::vector<std::string>* userOut) {
  std::vector<std::string> options{"-Djava.class.path=.", "-Xrs", "-Dfile.encoding=UTF-8"};
  try {
    std::vector<std::string> user;
    if (const char* value = std::getenv("ZNT_JVM_OPTS"); value != nullptr) {
      user = SplitUserOptions(value);
    }
    if (userOut != nullptr) *userOut = user;
    // A fetch turns over a few hundred bytes of short-lived Java objects
    // per row, a parameter array a block of rows at a time. Left to itself
    // the collector grows the young generation with the heap, to gigabytes,
    // so those objects land on pages the process has never touched and every
    // page costs a fault; a bounded young generation is reused from the first
    // collection on. Every page of it is touched between two collections, so
    // its size is memory the host holds for good: 16 MB keeps that small
    // and costs no speed (a collection costs what survives, not the size),
    // where a smaller one would promote the rows of a block still being read
    // to the old generation and grow that instead. A user who sizes it (-Xmn,
    // -XX:NewSize, -XX:MaxNewSize) decides.
    if (!SizesYoungGeneration(user)) options.emplace_back("-XX:MaxNewSize=16m");
    // The VM picks its compiler threads by the machine's processors (four
    // or more), and each thread that compiles a large method holds tens of
    // megabytes of compiler memory at once; a driver inside another
    // application's process compiles the same few paths of the driver and
    // the JDBC driver, which one thread of each compiler keeps up with. A
    // user who names a count decides.
    if (!NamesCompilerCount(user)) options.emplace_back("-XX:CICompilerCount=2");
    // The VM serves one application's calls with a small heap of short-lived
    // objects: the serial collector's plain write barrier makes each value
    // read cheaper than the default collector's, its pauses over that young
    // generation are short and need no other thread to be scheduled (on a
    // busy machine the default's parallel pauses wait for all of theirs),
    // and the process stays a fraction of the size. A user who chooses a
    // collector (-XX:+UseG1GC and the like) decides.
    if (!ChoosesCollector(user)) options.emplace_back("-XX:+UseSerialGC");
    // The JDK's own logging configuration sends every warning a JDBC driver
    // logs (pgjdbc reports a malformed URL that way) to the standard error of
    // the application that loaded us. An empty configuration gives the root
    // logger no handler; a user who wants those messages names a file of
    // their own in ZNT_JVM_OPTS, which comes later and wins.
    options.emplace_back("-Djava.util.logging.config.file=/dev/null");
    // No performance-counter file (hsperfdata) in the temporary directory
    // for each application that connects, and a little less work at the
    // start; a user who wants jstat's counters turns them on again.
    options.emplace_back("-XX:-UsePerfData");
    for (std::string& o : user) options.push_back(std::move(o));
    *out = std::move(options);
  } catch (const std::bad_alloc&) {
    return JNI_ENOMEM;
  }
  return 0;
}

int JVM_Create(const std::vector<std::string>& options, std::string* vmOutput) {
  vmOutput->clear();
  std::vector<std::string> strings;
  std::vector<JavaVMOption> vmOptions;
  try {
    strings = options;
    strings.emplace_back("vfprintf");
    strings.emplace_back("exit");
    strings.emplace_back("abort");
    vmOptions.resize(strings.size());
  } catch (const std::bad_alloc&) {
    return -4;
  }
  const size_t hooks = options.size();
  for (size_t i = 0; i < strings.size(); ++i) {
    vmOptions[i].optionString = strings[i].data();
    vmOptions[i].extraInfo = nullptr;
  }
  vmOptions[hooks].extraInfo = reinterpret_cast<void*>(&VmWriteHook);
  vmOptions[hooks + 1].extraInfo = reinterpret_cast<void*>(&VmExitHook);
  vmOptions[hooks + 2].extraInfo = reinterpret_cast<void*>(&VmAbortHook);
  JavaVMInitArgs args;
  args.version = kJniVersion;
  args.nOptions = static_cast<jint>(vmOptions.size());
  args.options = vmOptions.data();
  args.ignoreUnrecognized = JNI_TRUE;

  // The VM sets the process locale from the environment while it starts; the
  // host application's locale must not change under it.
  const char* current = std::setlocale(LC_ALL, nullptr);
  std::string savedLocale = current != nullptr ? current : "C";
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  {
    std::lock_guard<std::mutex> hold(gVmOutputLock);
    Host().vmOutput.clear();
    gVmStarting = true;
  }
  jint rc = gCreateVm(&vm, reinterpret_cast<void**>(&env), &args);
  if (rc != JNI_OK) gCreateFailed = true;  // whatever it was, it cannot be tried again
  {
    std::lock_guard<std::mutex> hold(gVmOutputLock);
    gVmStarting = false;
    vmOutput->swap(Host().vmOutput);
  }
  std::setlocale(LC_ALL, savedLocale.c_str());
  if (rc == JNI_OK) {
    KeepVm(vm);
    Host().vm.creator = env;
  }
  return rc;
}

JNIEnv* JVM_AttachThread() {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  if (Host().vm.vm == nullptr) return nullptr;
  return AttachLocked();
}

void JVM_DetachThread() {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  if (Host().vm.vm == nullptr) return;
  JNIEnv* env = nullptr;
  if (Host().vm.vm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion) != JNI_OK || env == nullptr) {
    return;
  }
  if (env == Host().vm.creator || Host().vm.attached.count(env) == 0) return;
  if (Host().vm.vm->DetachCurrentThread() < 0) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't detach JVM from current thread");
    return;
  }
  Host().vm.attached.erase(env);
  MarkAttached(false);
}

JNIEnv* JVM_ThreadEnv() {
  if (JavaVM* vm = gThreadEnvVm.load(std::memory_order_acquire); vm != nullptr) {
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion) == JNI_OK && env != nullptr) {
      return env;
    }
  }
  return JVM_AttachThread();
}

int JC_DefineXidClass(JNIEnv* env, jclass* out) {
  *out = nullptr;
  jclass cls = FindOrDefine(env, "quillmar/support/XAXid", kXidClassFile, kXidClassFileSize);
  if (cls == nullptr) return KX_ERR_GENERAL;
  *out = cls;
  return 0;
}

jclass JC_DefineRowBlockClass(JNIEnv* env) {
  return FindOrDefine(env, "quillmar/support/RowBlock", kRowBlockClassFile, kRowBlockClassFileSize);
}

jclass JC_DefineParamBatchClass(JNIEnv* env) {
  return FindOrDefine(env, "quillmar/support/ParamBatch", kParamBatchClassFile, kParamBatchClassFileSize);
}

jclass JC_DefineClassTrainingClass(JNIEnv* env) {
  return FindOrDefine(env, "quillmar/support/ClassTraining", kClassTrainingClassFile,
                      kClassTrainingClassFileSize);
}

std::string JDB_JarPaths(const std::string& jarDir) {
  std::string paths;
  std::string names(JDB_JarList);
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(':', start);
    if (end == std::string::npos) end = names.size();
    if (!paths.empty()) paths += ';';
    paths += jarDir + names.substr(start, end - start);
    start = end + 1;
  }
  return paths;
}

bool JVM_FindLibrary(std::string* path) {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  if (!LoadJvmLibrary()) return false;
  *path = Host().jvmPath;
  return true;
}

jobject JC_CreateClassLoader(JNIEnv* env, const char* paths) {
  jclass loaderClass =
      FindOrDefine(env, "quillmar/support/ZNTClassLoader", kLoaderClassFile, kLoaderClassFileSize);
  if (loaderClass == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't create ZNTClassLoader");
    return nullptr;
  }
  std::vector<std::string> items;
  for (const char* p = paths != nullptr ? paths : ""; *p != '\0';) {
    const char* semi = std::strchr(p, ';');
    size_t n = semi != nullptr ? static_cast<size_t>(semi - p) : std::strlen(p);
    if (n > 0) items.emplace_back(p, n);
    p += n;
    if (*p == ';') ++p;
  }
  if (items.empty()) {
    env->DeleteLocalRef(loaderClass);
    return nullptr;
  }
  jobject loader = nullptr;
  jclass urlClass = env->FindClass("java/net/URL");
  jobjectArray urls = nullptr;
  if (env->ExceptionCheck() || urlClass == nullptr) {
    env->ExceptionClear();
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't find java.net.URL");
  } else {
    urls = env->NewObjectArray(static_cast<jsize>(items.size()), urlClass, nullptr);
    if (env->ExceptionCheck() || urls == nullptr) {
      env->ExceptionClear();
      urls = nullptr;
      LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't create Array of java.net.URL");
    }
  }
  bool ok = urls != nullptr;
  for (size_t i = 0; ok && i < items.size(); ++i) {
    char text[1024];
    std::snprintf(text, sizeof text, "file:%.1016s", items[i].c_str());
    jstring s = JC_NewString(env, text, JC_MODE_PLATFORM);
    jobject url = nullptr;
    if (s != nullptr) url = JC_NewObject(env, "java/net/URL", "(Ljava/lang/String;)V", s);
    if (url != nullptr) {
      env->SetObjectArrayElement(urls, static_cast<jsize>(i), url);
      if (env->ExceptionCheck()) ok = false;
    } else {
      ok = false;
    }
    if (s != nullptr) env->DeleteLocalRef(s);
    if (url != nullptr) env->DeleteLocalRef(url);
  }
  if (ok) {
    // The loader these jars had before, if any: the JDBC driver's classes
    // keep their identity and state across environments.
    jmethodID forJars =
        env->GetStaticMethodID(loaderClass, "forJars", "([Ljava/net/URL;)Lquillmar/support/ZNTClassLoader;");
    if (!env->ExceptionCheck() && forJars != nullptr) loader = env->CallStaticObjectMethod(loaderClass, forJars, urls);
    if (env->ExceptionCheck()) {
      if (loader != nullptr) env->DeleteLocalRef(loader);
      loader = nullptr;
    }
  }
  JC_ClearException(env);
  if (urls != nullptr) env->DeleteLocalRef(urls);
  if (urlClass != nullptr) env->DeleteLocalRef(urlClass);
  env->DeleteLocalRef(loaderClass);
  return loader;
}

namespace {

// Creates the process's VM, once. Options a user added (ZNT_JVM_OPTS, or the
// VM's own environment variables) are first tried in a child process, so that
// options the VM answers by ending its process end only the child. Caller
// holds gHostLock.
int StartVm() {
  if (gCreateFailed) {
    SetFailure(Host().createFailure.empty() ? "Can't create Java VM" : Host().createFailure);
    return KX_ERR_GENERAL;
  }
  try {
    std::vector<std::string> options, user;
    if (JVM_VmOptions(&options, &user) != 0) return KX_ERR_NOMEM;
    {
      // The class-data archive made at installation, in front of the
      // user's options, which stay last and win.
      std::string why;
      const std::vector<std::string> archive =
          JVM_ClassArchiveOptions(Host().jarDir, Host().jvmPath, user, &why);
      if (!why.empty()) LogAt(LOG_INFO, __FILE__, __LINE__, "%s", why.c_str());
      options.insert(options.end() - static_cast<std::ptrdiff_t>(user.size()), archive.begin(),
                     archive.end());
    }
    if (!Host().refusal.empty() && options == Host().refusedOptions) {
      SetFailure(Host().refusal);
      return KX_ERR_GENERAL;
    }
    if (JVM_OptionsNeedCheck(user)) {
      std::string why;
      switch (JVM_CheckOptions(JVM_LauncherNear(Host().jvmPath), options, JVM_OPTION_CHECK_SECONDS, &why)) {
        case VmOptionCheck::kRejected:
          Host().refusal = "Can't create Java VM: the Java VM refuses its options (ZNT_JVM_OPTS): " + why;
          Host().refusedOptions = options;
          SetFailure(Host().refusal);
          return KX_ERR_GENERAL;
        case VmOptionCheck::kUnchecked:
          LogAt(LOG_WARNING, __FILE__, __LINE__, "Java VM options not tried before the start: %s",
                why.c_str());
          break;
        case VmOptionCheck::kAccepted:
          break;
      }
    }
    std::string output;
    const int rc = JVM_Create(options, &output);
    if (rc == JNI_OK) return 0;
    if (!gCreateFailed) return KX_ERR_NOMEM;  // the options could not be copied
    char head[96];
    std::snprintf(head, sizeof head, "Can't create Java VM [%d|%s]", rc, JniErrorText(rc));
    std::string reason = JVM_ReasonText(output);
    Host().createFailure = reason.empty() ? head : std::string(head) + ": " + reason;
    SetFailure(Host().createFailure);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  return KX_ERR_GENERAL;
}

// First allocation: tables, environment record, VM, classes, loader.
int OpenEnvironment(uint32_t* envHandle) {
  if (HT_Init(&JDB_EnvTable, 0x0DBCAAAA) != 0 || HT_Init(&JDB_ConnTable, 0x0DBCBBBB) != 0 ||
      HT_Init(&JDB_StmtTable, 0x0DBCCCCC) != 0) {
    return KX_ERR_GENERAL;
  }
  JEnv* je = new (std::nothrow) JEnv();
  if (je == nullptr) return KX_ERR_NOMEM;

  if (Host().vm.vm == nullptr) {
    if (!LoadJvmLibrary()) {
      FreeEnvRecord(je);
      return KX_ERR_GENERAL;
    }
    JavaVM* vms[2] = {nullptr, nullptr};
    jsize count = 0;
    if (gGetVms(vms, 2, &count) == JNI_OK && count > 0) {
      KeepVm(vms[0]);
    } else if (int status = StartVm(); status != 0) {
      FreeEnvRecord(je);
      return status;
    }
  }
  // The thread that opens the environment; for a VM found running it is
  // attached here when it was not yet, and recorded so its thread end
  // detaches it.
  JNIEnv* env = AttachLocked();
  if (env == nullptr) {
    SetFailure("Can't attach JVM to current thread");
    FreeEnvRecord(je);
    return KX_ERR_GENERAL;
  }
  if (Host().vm.creator == nullptr) Host().vm.creator = env;
  if (env->PushLocalFrame(64) != 0) {
    env->ExceptionClear();
    FreeEnvRecord(je);
    return KX_ERR_NOMEM;
  }
  int status = 0;
  jclass xid = nullptr;
  if (JC_DefineXidClass(env, &xid) != 0) {
    SetFailure("Can't load XID class");
    status = KX_ERR_GENERAL;
  } else {
    je->xidClass = static_cast<jclass>(env->NewGlobalRef(xid));
    const std::string paths = JDB_JarPaths(Host().jarDir);
    jobject loader = JC_CreateClassLoader(env, paths.c_str());
    if (loader == nullptr) {
      SetFailure("Can't create  ClassLoader");
      status = KX_ERR_GENERAL;
    } else {
      je->loader = env->NewGlobalRef(loader);
    }
  }
  env->PopLocalFrame(nullptr);
  if (status == 0 && (je->xidClass == nullptr || je->loader == nullptr)) status = KX_ERR_NOMEM;
  if (status == 0 && (HT_EnableLocking(&JDB_EnvTable) != 0 ||
                      HT_EnableLocking(&JDB_ConnTable) != 0 ||
                      HT_EnableLocking(&JDB_StmtTable) != 0)) {
    status = KX_ERR_GENERAL;
  }
  uint32_t handle = 0;
  if (status == 0) status = HT_Alloc(&JDB_EnvTable, &handle, je);
  if (status != 0) {
    if (je->xidClass != nullptr) env->DeleteGlobalRef(je->xidClass);
    if (je->loader != nullptr) env->DeleteGlobalRef(je->loader);
    FreeEnvRecord(je);
    HT_Destroy(&JDB_StmtTable);
    HT_Destroy(&JDB_ConnTable);
    HT_Destroy(&JDB_EnvTable);
    return status;
  }
  je->jni = env;
  Host().vm.envHandle = handle;
  Host().vm.openCount = 1;
  gLastFailure[0] = '\0';
  tAllocFailure.clear();
  *envHandle = handle;
  return 0;
}

}  // namespace

int JVM_AllocServer(const AgentServerOptions* options, uint32_t* envHandle) {
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  if (envHandle != nullptr) *envHandle = 0;
  if (Host().vm.openCount != 0) {
    if (AttachLocked() == nullptr) {
      SetFailure("Can't attach JVM to current thread");
      return KX_ERR_GENERAL;
    }
    ++Host().vm.openCount;
    if (envHandle != nullptr) *envHandle = Host().vm.envHandle;
    return 0;
  }
  // The environment's class loader reads the jars of the section the first
  // connect named; while it stays open every connection shares it.
  if (gSetupReader != nullptr) {
    JDB_SetJarDir(
        JDB_LookupJarDir(gSetupReader, options != nullptr ? options->setupSection : nullptr).c_str());
  }
  uint32_t handle = 0;
  int status = OpenEnvironment(&handle);
  if (status == 0 && envHandle != nullptr) *envHandle = handle;
  return status;
}

int JVM_FreeServer(uint32_t envHandle) {
  auto* je = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, envHandle));
  if (je == nullptr) return KX_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> agent(JDB_AgentMutex());
  std::lock_guard<std::recursive_mutex> guard(gHostLock);
  if (Host().vm.openCount <= 0 || envHandle != Host().vm.envHandle) return KX_ERR_BAD_ARGUMENT;
  if (--Host().vm.openCount > 0) return 0;

  if (gUpperHooks.lastServerClose != nullptr) gUpperHooks.lastServerClose();
  HT_Release(&JDB_EnvTable, envHandle);
  HT_Destroy(&JDB_StmtTable);
  HT_Destroy(&JDB_ConnTable);
  HT_Destroy(&JDB_EnvTable);
  {
    std::lock_guard<std::mutex> msgs(je->lock);
    JDB_MsgFreeList(&je->msgs);
  }
  // Attach if needed so that the global references are really deleted.
  JNIEnv* env = AttachLocked();
  if (env != nullptr) {
    if (je->xidClass != nullptr) env->DeleteGlobalRef(je->xidClass);
    if (je->loader != nullptr) env->DeleteGlobalRef(je->loader);
  }
  delete je;
  Host().vm.envHandle = 0;
  // The thread that closed the environment leaves the VM when the driver
  // attached it (a thread attached by the application stays).
  JVM_DetachThread();
  return 0;
}

}  // namespace kx
