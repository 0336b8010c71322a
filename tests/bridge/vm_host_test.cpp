// The VM host: one VM per process reused across server open and close cycles,
// thread attachment, class loading through the jar directory, and a host
// process whose signal handlers, locale and options survive the VM's start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_xa.h"

using namespace kx;
using kxtest::Jni;
using kxtest::LocalFrame;

namespace {

// Full close and reopen need a process whose environment nobody else holds:
// the body runs as the child of a death test.
void OpenCloseCycles() {
  JDB_SetJarDir(KX_STANDIN_JAR_DIR);
  uint32_t h1 = 0;
  ASSERT_EQ(0, JVM_AllocServer(nullptr, &h1)) << JVM_LastFailure();
  JavaVM* vm = JVM_Current();
  ASSERT_NE(nullptr, vm);
  uint32_t h2 = 0;
  ASSERT_EQ(0, JVM_AllocServer(nullptr, &h2));
  EXPECT_EQ(h1, h2);
  EXPECT_EQ(2, JVM_OpenCount());
  EXPECT_EQ(0xAAAAu, h1 >> 16);
  EXPECT_EQ(0, JVM_FreeServer(h2));
  EXPECT_NE(nullptr, HT_Lookup(&JDB_EnvTable, h1));
  EXPECT_EQ(0, JVM_FreeServer(h1));
  EXPECT_EQ(0, JVM_OpenCount());
  EXPECT_EQ(nullptr, HT_Lookup(&JDB_EnvTable, h1));  // tables destroyed
  EXPECT_EQ(21, JVM_FreeServer(h1));

  for (int cycle = 0; cycle < 3; ++cycle) {
    uint32_t h = 0;
    ASSERT_EQ(0, JVM_AllocServer(nullptr, &h)) << cycle;
    EXPECT_EQ(vm, JVM_Current());
    auto* je = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, h));
    ASSERT_NE(nullptr, je);
    EXPECT_NE(nullptr, je->loader);
    EXPECT_NE(nullptr, je->xidClass);
    EXPECT_EQ(0, JVM_FreeServer(h));
  }
}

TEST(VmHostDeathTest, ServerOpenCloseCyclesReuseTheOneVm) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        OpenCloseCycles();
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(VmHost, EightThreadsAttachAndDetachCleanly) {
  ASSERT_NE(nullptr, Jni());
  int before = JVM_AttachedCount();
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  std::atomic<int> attached{0};
  std::atomic<bool> release{false};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      JNIEnv* env = JVM_AttachThread();
      if (env == nullptr) return;
      ++attached;
      if (env->PushLocalFrame(16) == 0) {
        jstring s = JC_NewString(env, "thread \xF0\x9F\x98\x80", JC_MODE_UTF8);
        char* back = JC_StringToC(env, s, JC_MODE_UTF8);
        if (back != nullptr && std::strcmp(back, "thread \xF0\x9F\x98\x80") == 0) ++ok;
        std::free(back);
        env->PopLocalFrame(nullptr);
      }
      while (!release) std::this_thread::yield();
      // Thread end detaches it.
    });
  }
  while (attached < 8) std::this_thread::yield();
  EXPECT_EQ(before + 8, JVM_AttachedCount());
  release = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(8, ok.load());
  EXPECT_EQ(before, JVM_AttachedCount());
}

TEST(VmHost, ThreadAttachedByTheApplicationStaysAttached) {
  ASSERT_NE(nullptr, Jni());
  JavaVM* vm = JVM_Current();
  std::thread t([vm] {
    JNIEnv* own = nullptr;
    ASSERT_EQ(JNI_OK, vm->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr));
    EXPECT_EQ(own, JVM_AttachThread());
    JVM_DetachThread();
    JNIEnv* still = nullptr;
    EXPECT_EQ(JNI_OK, vm->GetEnv(reinterpret_cast<void**>(&still), JNI_VERSION_1_4));
    vm->DetachCurrentThread();
  });
  t.join();
}

TEST(VmHost, ClassesComeThroughTheJarDirectoryLoader) {
  JEnv* je = kxtest::Env();
  ASSERT_NE(nullptr, je);
  LocalFrame frame;
  JConn c{};
  c.jni = Jni();
  c.unicodeClient = 1;
  const char* found[] = {"com/informix/jdbcx/IfxDataSource", "com/informix/jdbc/IfmxStatement",
                         "org/h2/Driver", "org/postgresql/Driver"};
  for (const char* name : found) {
    jclass cls = JC_LoadClass(&c, je->loader, name);
    EXPECT_NE(nullptr, cls) << name;
    EXPECT_EQ(0, CheckException(c.jni, 1, &c.msgs)) << kxtest::Describe(c.msgs);
  }
  EXPECT_EQ(nullptr, JC_LoadClass(&c, je->loader, "com/informix/NoSuchClass"));
  EXPECT_EQ(15, CheckException(c.jni, 1, &c.msgs));
  ASSERT_NE(nullptr, c.msgs.head);
  EXPECT_NE(nullptr, std::strstr(c.msgs.head->text, "ClassNotFoundException"));
  JDB_MsgFreeList(&c.msgs);
  // Not on the VM's own class path.
  EXPECT_EQ(nullptr, JC_LoadClass(&c, nullptr, "com/informix/jdbcx/IfxDataSource"));
  JC_ClearException(c.jni);
  EXPECT_EQ(nullptr, JC_CreateClassLoader(c.jni, ";;"));
}

// The jars of one directory have one loader for the life of the VM: an
// environment opened again gets the classes (and their state) it had. The
// jars of another directory get a loader that defines its classes itself:
// the XA data source, whose superclass is package-private, loads in it after
// the plain data source was loaded in the first.
TEST(VmHost, OneLoaderPerJarDirectoryDefiningItsOwnClasses) {
  ASSERT_NE(nullptr, kxtest::Env());
  LocalFrame frame;
  JConn c{};
  c.jni = Jni();
  c.unicodeClient = 1;
  const std::string paths = JDB_JarPaths(JDB_GetJarDir());
  jobject first = JC_CreateClassLoader(c.jni, paths.c_str());
  ASSERT_NE(nullptr, first);
  jobject again = JC_CreateClassLoader(c.jni, paths.c_str());
  EXPECT_TRUE(c.jni->IsSameObject(first, again));

  // The same jars seen through another directory.
  char dir[] = "/tmp/kx-jars-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string other = std::string(dir) + "/";
  std::vector<std::string> links;
  for (size_t start = 0, end; start < paths.size(); start = end + 1) {
    end = paths.find(';', start);
    if (end == std::string::npos) end = paths.size();
    const std::string jar = paths.substr(start, end - start);
    const std::string link = other + jar.substr(jar.rfind('/') + 1);
    ASSERT_EQ(0, symlink(jar.c_str(), link.c_str())) << link;
    links.push_back(link);
  }
  jobject second = JC_CreateClassLoader(c.jni, JDB_JarPaths(other).c_str());
  ASSERT_NE(nullptr, second);
  EXPECT_FALSE(c.jni->IsSameObject(first, second));

  auto loaderOf = [&](jclass cls) {
    jobject owner = nullptr;
    EXPECT_EQ(0, JC_CallObjectMethod(c.jni, cls, nullptr, "getClassLoader", "()Ljava/lang/ClassLoader;", &owner));
    return owner;
  };
  jclass plain = JC_LoadClass(&c, first, "com/informix/jdbcx/IfxDataSource");
  ASSERT_NE(nullptr, plain) << kxtest::Describe(c.msgs);
  EXPECT_TRUE(c.jni->IsSameObject(loaderOf(plain), first));
  for (const char* name : {"com/informix/jdbcx/IfxDataSource", "com/informix/jdbcx/IfxXADataSource"}) {
    SCOPED_TRACE(name);
    jclass cls = JC_LoadClass(&c, second, name);
    EXPECT_EQ(0, CheckException(c.jni, 1, &c.msgs)) << kxtest::Describe(c.msgs);
    ASSERT_NE(nullptr, cls);
    EXPECT_TRUE(c.jni->IsSameObject(loaderOf(cls), second));
  }
  JDB_MsgFreeList(&c.msgs);
  for (const std::string& link : links) unlink(link.c_str());
  rmdir(dir);
}

TEST(VmHost, XidClassLivesInTheSystemLoaderWithHashCodeMatchingEquals) {
  JEnv* je = kxtest::Env();
  JNIEnv* env = Jni();
  LocalFrame frame;
  jclass found = env->FindClass("quillmar/support/XAXid");
  ASSERT_FALSE(env->ExceptionCheck());
  ASSERT_NE(nullptr, found);
  auto make = [&](const char* g) {
    XID x{};
    x.formatID = 4;
    x.gtrid_length = static_cast<long>(std::strlen(g));
    x.bqual_length = 1;
    std::memcpy(x.data, g, std::strlen(g));
    x.data[x.gtrid_length] = 'b';
    return JC_NewXid(env, je->xidClass, &x);
  };
  jobject a = make("same"), b = make("same"), c = make("other");
  jboolean eq = JNI_FALSE;
  jint ha = 0, hb = 0;
  EXPECT_EQ(0, JC_CallBooleanMethod(env, a, nullptr, "equals", "(Ljava/lang/Object;)Z", &eq, b));
  EXPECT_TRUE(eq);
  EXPECT_EQ(0, JC_CallIntMethod(env, a, nullptr, "hashCode", "()I", &ha));
  EXPECT_EQ(0, JC_CallIntMethod(env, b, nullptr, "hashCode", "()I", &hb));
  EXPECT_EQ(ha, hb);
  EXPECT_EQ(0, JC_CallBooleanMethod(env, a, nullptr, "equals", "(Ljava/lang/Object;)Z", &eq, c));
  EXPECT_FALSE(eq);
}

void Marker(int) {}

// The VM's own command line (RuntimeMXBean.getInputArguments) as one text.
std::string VmInputArguments(JNIEnv* env) {
  std::string out;
  jclass factory = env->FindClass("java/lang/management/ManagementFactory");
  if (env->ExceptionCheck() || factory == nullptr) return out;
  jmethodID runtime = env->GetStaticMethodID(factory, "getRuntimeMXBean",
                                             "()Ljava/lang/management/RuntimeMXBean;");
  jobject bean = runtime != nullptr ? env->CallStaticObjectMethod(factory, runtime) : nullptr;
  jobject args = nullptr;
  if (!env->ExceptionCheck() && bean != nullptr) {
    JC_CallObjectMethod(env, bean, nullptr, "getInputArguments", "()Ljava/util/List;", &args);
  }
  jobject text = nullptr;
  if (!env->ExceptionCheck() && args != nullptr) {
    JC_CallObjectMethod(env, args, nullptr, "toString", "()Ljava/lang/String;", &text);
  }
  if (!env->ExceptionCheck() && text != nullptr) {
    char* c = JC_StringToC(env, static_cast<jstring>(text), JC_MODE_UTF8);
    if (c != nullptr) out = c;
    std::free(c);
  }
  env->ExceptionClear();
  return out;
}

// The child of the death tests below: starts the VM in a fresh process with
// the given user options and exits with 0 when the host's settings survived
// it, the young generation is bounded exactly when the user left it alone, the
// serial collector chosen exactly when the user chose none, the compiler
// threads counted exactly when the user named no count, and the performance
// counters off.
[[noreturn]] void StartVmInFreshProcess(const char* userOptions, bool expectBound, bool expectSerial,
                                        bool expectCompilers = true) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1};
  for (int s : signals) std::signal(s, Marker);
  setenv("LC_ALL", "C.UTF-8", 1);
  std::setlocale(LC_ALL, "C");
  setenv("ZNT_JVM_OPTS", userOptions, 1);
  JDB_SetJarDir(KX_STANDIN_JAR_DIR);
  uint32_t h = 0;
  if (JVM_AllocServer(nullptr, &h) != 0) std::_Exit(10);
  for (int s : signals) {
    struct sigaction now {};
    sigaction(s, nullptr, &now);
    if (now.sa_handler != Marker) std::_Exit(20 + s);
  }
  if (std::strcmp(std::setlocale(LC_ALL, nullptr), "C") != 0) std::_Exit(11);
  JNIEnv* env = JVM_AttachThread();
  jclass sys = env->FindClass("java/lang/System");
  if (env->ExceptionCheck() || sys == nullptr) std::_Exit(13);
  jmethodID get =
      env->GetStaticMethodID(sys, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  if (env->ExceptionCheck() || get == nullptr) std::_Exit(13);
  const char* expected[][2] = {{"kx.spaced", "a b"},
                               {"kx.other", "2"},
                               {"file.encoding", "UTF-8"},
                               {"java.class.path", "."}};
  for (auto& e : expected) {
    jstring key = env->NewStringUTF(e[0]);
    if (env->ExceptionCheck()) std::_Exit(13);
    auto value = static_cast<jstring>(env->CallStaticObjectMethod(sys, get, key));
    if (env->ExceptionCheck()) std::_Exit(13);
    char* c = JC_StringToC(env, value, JC_MODE_UTF8);
    if (c == nullptr || std::strcmp(c, e[1]) != 0) std::_Exit(12);
    std::free(c);
    env->DeleteLocalRef(key);
    env->DeleteLocalRef(value);
  }
  const std::string args = VmInputArguments(env);
  if (args.empty()) std::_Exit(14);
  if ((args.find("-XX:MaxNewSize=16m") != std::string::npos) != expectBound) std::_Exit(15);
  if ((args.find("-XX:+UseSerialGC") != std::string::npos) != expectSerial) std::_Exit(16);
  if ((args.find("-XX:CICompilerCount=2") != std::string::npos) != expectCompilers) std::_Exit(17);
  // No performance-counter file in the temporary directory for each host.
  if (args.find("-XX:-UsePerfData") == std::string::npos) std::_Exit(18);
  std::_Exit(0);
}

TEST(VmHostDeathTest, HostSignalHandlersLocaleAndOptionsSurviveTheVmStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartVmInFreshProcess("  -Xcheck:jni -Dkx.spaced=a b  -Dkx.other=2", true, true),
              ::testing::ExitedWithCode(0), "");
}

TEST(VmHostDeathTest, UserSizedYoungGenerationIsLeftAlone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartVmInFreshProcess("-Xcheck:jni -Dkx.spaced=a b -Dkx.other=2 -Xmn32m", false, true),
              ::testing::ExitedWithCode(0), "");
}

TEST(VmHostDeathTest, UserCountedCompilerThreadsAreLeftAlone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartVmInFreshProcess("-Dkx.spaced=a b -Dkx.other=2 -XX:CICompilerCount=3", true, true, false),
              ::testing::ExitedWithCode(0), "");
}

TEST(VmHostDeathTest, UserChosenCollectorIsLeftAlone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartVmInFreshProcess("-Dkx.spaced=a b -Dkx.other=2 -XX:+UseParallelGC", true, false),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
