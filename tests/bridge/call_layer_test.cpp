// The Java call layer: typed calls by name and descriptor, text crossing in
// both modes, CheckException, brace stripping and the agent message lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_msg.h"
#include "util/log.h"

using namespace kx;
using kxtest::Jni;
using kxtest::LocalFrame;

namespace {

struct ListGuard {
  AgentMsgList list{};
  ~ListGuard() { JDB_MsgFreeList(&list); }
};

TEST(CallLayer, CallsEveryReturnTypeByNameAndDescriptor) {
  JNIEnv* env = Jni();
  ASSERT_NE(env, nullptr);
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  ASSERT_NE(probe, nullptr);

  jint i = 0;
  EXPECT_EQ(0, JC_CallIntMethod(env, probe, nullptr, "add", "(II)I", &i, 40, 2));
  EXPECT_EQ(42, i);
  jlong l = 0;
  EXPECT_EQ(0, JC_CallLongMethod(env, probe, nullptr, "twice", "(J)J", &l, jlong{1} << 40));
  EXPECT_EQ(jlong{1} << 41, l);
  jboolean z = JNI_FALSE;
  EXPECT_EQ(0, JC_CallBooleanMethod(env, probe, nullptr, "not", "(Z)Z", &z, JNI_FALSE));
  EXPECT_EQ(JNI_TRUE, z);
  jbyte b = 0;
  EXPECT_EQ(0, JC_CallByteMethod(env, probe, nullptr, "neg", "(B)B", &b, jbyte{5}));
  EXPECT_EQ(-5, b);
  jshort s = 0;
  EXPECT_EQ(0, JC_CallShortMethod(env, probe, nullptr, "half", "(S)S", &s, jshort{-300}));
  EXPECT_EQ(-150, s);
  jchar c = 0;
  EXPECT_EQ(0, JC_CallCharMethod(env, probe, nullptr, "upper", "(C)C", &c, jchar{'q'}));
  EXPECT_EQ('Q', c);
  jfloat f = 0;
  EXPECT_EQ(0, JC_CallFloatMethod(env, probe, nullptr, "third", "(F)F", &f, 3.0f));
  EXPECT_FLOAT_EQ(1.0f, f);
  jdouble d = 0;
  EXPECT_EQ(0, JC_CallDoubleMethod(env, probe, nullptr, "square", "(D)D", &d, 1.5));
  EXPECT_DOUBLE_EQ(2.25, d);
  jobject o = nullptr;
  jstring in = JC_NewString(env, "hello", JC_MODE_UTF8);
  EXPECT_EQ(0, JC_CallObjectMethod(env, probe, nullptr, "echo",
                                   "(Ljava/lang/String;)Ljava/lang/String;", &o, in));
  char* back = JC_StringToC(env, static_cast<jstring>(o), JC_MODE_UTF8);
  EXPECT_STREQ("hello", back);
  std::free(back);
  EXPECT_EQ(0, JC_CallVoidMethod(env, probe, nullptr, "fail", "(I)V", 99));

  // The cached form behaves the same.
  static JMethod length{"java/lang/String", "length", "()I"};
  jint n = 0;
  EXPECT_EQ(0, JC_CallInt(env, in, length, &n));
  EXPECT_EQ(5, n);
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST(CallLayer, LookupFailuresAndNullsLeaveOneJavaExceptionForCheckException) {
  JNIEnv* env = Jni();
  ASSERT_NE(env, nullptr);
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  ListGuard g;

  jint i = 0;
  EXPECT_EQ(15, JC_CallIntMethod(env, probe, nullptr, "add", "(J)I", &i, jlong{1}));
  ASSERT_TRUE(env->ExceptionCheck());
  EXPECT_EQ(15, CheckException(env, JC_MODE_UTF8, &g.list));
  ASSERT_NE(g.list.head, nullptr);
  EXPECT_STREQ("S1000", g.list.head->sqlstate);
  EXPECT_NE(nullptr, std::strstr(g.list.head->text, "NoSuchMethodError"));

  EXPECT_EQ(15, JC_CallIntMethod(env, nullptr, nullptr, "add", "(II)I", &i, 1, 2));
  EXPECT_EQ(15, CheckException(env, JC_MODE_UTF8, &g.list));
  ASSERT_NE(g.list.head, nullptr);
  EXPECT_STREQ(
      "java.lang.NullPointerException: NullPointerException in 'obj'  for 'add' JAVA call",
      g.list.head->text);
  EXPECT_EQ(nullptr, g.list.head->next);

  // The cached form raises the same for a null object, and for an object of
  // another class falls back to the object's own class.
  static JMethod length{"java/lang/String", "length", "()I"};
  EXPECT_EQ(15, JC_CallInt(env, nullptr, length, &i));
  EXPECT_EQ(15, CheckException(env, JC_MODE_UTF8, &g.list));
  EXPECT_EQ(15, JC_CallInt(env, probe, length, &i));
  EXPECT_EQ(15, CheckException(env, JC_MODE_UTF8, &g.list));
  EXPECT_NE(nullptr, std::strstr(g.list.head->text, "NoSuchMethodError"));

  // A null environment raises nothing and posts nothing.
  EXPECT_EQ(15, JC_CallIntMethod(nullptr, probe, nullptr, "add", "(II)I", &i, 1, 2));
  EXPECT_EQ(15, CheckException(nullptr, JC_MODE_UTF8, &g.list));
  EXPECT_FALSE(env->ExceptionCheck());
}

struct ExceptionCase {
  int kind;
  int status;
  const char* state;  // nullptr: nothing posted
  int native;
  const char* text;
};

TEST(CallLayer, CheckExceptionTurnsEachThrowableIntoOneMessage) {
  JNIEnv* env = Jni();
  ASSERT_NE(env, nullptr);
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  const ExceptionCase cases[] = {
      {0, 50, "08001", 42, "cannot connect here"},
      {1, 0, nullptr, 0, nullptr},  // SQLWarning: dropped
      {2, 15, "S1000", 7, "state is null"},
      {3, 10, "42S02", 3, ""},  // null message
      {4, 15, "S1000", 0, "java.lang.IllegalStateException: boom"},
      {6, 15, "XY", 1, "short state"},
      {7, 53, "08004", 2, "duplicate state"},
  };
  for (const ExceptionCase& c : cases) {
    SCOPED_TRACE(c.kind);
    ListGuard g;
    EXPECT_EQ(15, JC_CallVoidMethod(env, probe, nullptr, "fail", "(I)V", c.kind));
    EXPECT_EQ(c.status, CheckException(env, JC_MODE_UTF8, &g.list));
    EXPECT_FALSE(env->ExceptionCheck());
    if (c.state == nullptr) {
      EXPECT_EQ(nullptr, g.list.head);
      continue;
    }
    ASSERT_NE(nullptr, g.list.head);
    EXPECT_STREQ(c.state, g.list.head->sqlstate);
    EXPECT_EQ(c.native, g.list.head->native);
    EXPECT_STREQ(c.text, g.list.head->text);
    EXPECT_EQ(nullptr, g.list.head->next);
  }
}

TEST(CallLayer, LongExceptionTextIsCutAndControlCharactersBlanked) {
  JNIEnv* env = Jni();
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  ListGuard g;
  EXPECT_EQ(15, JC_CallVoidMethod(env, probe, nullptr, "fail", "(I)V", 5));
  EXPECT_EQ(15, CheckException(env, JC_MODE_UTF8, &g.list));  // HY000 is in no row
  ASSERT_NE(nullptr, g.list.head);
  EXPECT_STREQ("HY000", g.list.head->sqlstate);
  EXPECT_EQ(2047u, std::strlen(g.list.head->text));
  EXPECT_EQ(0, std::strncmp("tab here line\xC3\xA9xx", g.list.head->text, 17));
}

TEST(CallLayer, CheckExceptionWithoutListStillReportsTheFailure) {
  JNIEnv* env = Jni();
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  EXPECT_EQ(15, JC_CallVoidMethod(env, probe, nullptr, "fail", "(I)V", 0));
  EXPECT_EQ(50, CheckException(env, JC_MODE_UTF8, nullptr));
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(0, CheckException(env, JC_MODE_UTF8, nullptr));  // nothing pending
}

// "a", U+1F600, NUL, U+00E9, "z" in real UTF-8.
const char kText[] = "a\xF0\x9F\x98\x80\0\xC3\xA9z";
constexpr int kTextBytes = 9;

TEST(CallLayer, JavaTextReachesCAsRealUtf8InBothModes) {
  JNIEnv* env = Jni();
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  jobject str = nullptr;
  ASSERT_EQ(0, JC_CallObjectMethod(env, probe, nullptr, "text", "()Ljava/lang/String;", &str));
  for (int mode : {JC_MODE_UTF8, JC_MODE_PLATFORM}) {
    SCOPED_TRACE(mode);
    JStringHolder view;
    ASSERT_EQ(0, JC_GetStringChars(env, static_cast<jstring>(str), &view, mode));
    EXPECT_EQ(mode, view.mode);
    ASSERT_EQ(kTextBytes, view.length);
    EXPECT_EQ(0, std::memcmp(kText, view.chars, kTextBytes));
    JC_ReleaseStringChars(env, &view);
    char* copy = JC_StringToC(env, static_cast<jstring>(str), mode);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, std::memcmp(kText, copy, kTextBytes + 1));  // whole, and terminated
    std::free(copy);
  }
  // A null String: an empty holder and no copy.
  JStringHolder empty;
  EXPECT_EQ(0, JC_GetStringChars(env, nullptr, &empty, JC_MODE_UTF8));
  EXPECT_EQ(nullptr, empty.chars);
  EXPECT_EQ(0, empty.length);
  JC_ReleaseStringChars(env, &empty);
  EXPECT_EQ(nullptr, JC_StringToC(env, nullptr, JC_MODE_UTF8));
}

TEST(CallLayer, CTextReachesJavaWithSupplementaryCharactersAndNuls) {
  JNIEnv* env = Jni();
  LocalFrame frame;
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  for (int mode : {JC_MODE_UTF8, JC_MODE_PLATFORM}) {
    SCOPED_TRACE(mode);
    jstring s = JC_NewStringN(env, kText, kTextBytes, mode);
    ASSERT_NE(nullptr, s);
    jint units = 0, points = 0;
    EXPECT_EQ(0, JC_CallIntMethod(env, probe, nullptr, "length", "(Ljava/lang/String;)I", &units, s));
    EXPECT_EQ(0, JC_CallIntMethod(env, probe, nullptr, "codePoints", "(Ljava/lang/String;)I",
                                  &points, s));
    EXPECT_EQ(6, units);   // a, surrogate pair, NUL, e-acute, z
    EXPECT_EQ(5, points);
    // Round trip through Java.
    jobject echoed = nullptr;
    EXPECT_EQ(0, JC_CallObjectMethod(env, probe, nullptr, "echo",
                                     "(Ljava/lang/String;)Ljava/lang/String;", &echoed, s));
    JStringHolder view;
    ASSERT_EQ(0, JC_GetStringChars(env, static_cast<jstring>(echoed), &view, mode));
    EXPECT_EQ(kTextBytes, view.length);
    EXPECT_EQ(0, std::memcmp(kText, view.chars, kTextBytes));
    JC_ReleaseStringChars(env, &view);
    env->DeleteLocalRef(echoed);
    env->DeleteLocalRef(s);
    // NUL-terminated C text ends at its NUL.
    jstring t = JC_NewString(env, kText, mode);
    EXPECT_EQ(0, JC_CallIntMethod(env, probe, nullptr, "length", "(Ljava/lang/String;)I", &units, t));
    EXPECT_EQ(3, units);
    env->DeleteLocalRef(t);
  }
  // Malformed UTF-8 becomes U+FFFD instead of ending the text.
  jstring bad = JC_NewString(env, "a\xFF" "b", JC_MODE_UTF8);
  char* back = JC_StringToC(env, bad, JC_MODE_UTF8);
  EXPECT_STREQ("a\xEF\xBF\xBD" "b", back);
  std::free(back);
  EXPECT_EQ(nullptr, JC_NewString(env, nullptr, JC_MODE_UTF8));
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST(CallLayer, ManyCallsInOneSmallFrameLeakNoLocalReferences) {
  // -Xcheck:jni reports a frame that outgrows its capacity: each call must
  // release what it made.
  JNIEnv* env = Jni();
  LocalFrame frame(16);
  jobject probe = kxtest::NewProbe("kxprobe/Probe");
  for (int i = 0; i < 200; ++i) {
    jstring s = JC_NewString(env, "x\xF0\x9F\x98\x80", i % 2);
    char* c = JC_StringToC(env, s, i % 2);
    std::free(c);
    JStringHolder view;
    ASSERT_EQ(0, JC_GetStringChars(env, s, &view, i % 2));
    JC_ReleaseStringChars(env, &view);
    jint n = 0;
    JC_CallIntMethod(env, probe, nullptr, "length", "(Ljava/lang/String;)I", &n, s);
    env->DeleteLocalRef(s);
    AgentMsgList list{};
    JC_CallVoidMethod(env, probe, nullptr, "fail", "(I)V", 0);
    CheckException(env, 1, &list);
    JDB_MsgFreeList(&list);
  }
}

TEST(CallLayer, StripBraces) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"abc", "abc"},         {"  abc", "  abc"},   {"{abc}", "abc"},   {"  { a;b }  ", " a;b"},
      {"{", ""},              {"{}", ""},           {"{{x}}", "{x}"},   {"{abc", "abc"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    char* out = JC_StripBraces(text.data());
    EXPECT_STREQ(c.out, out) << c.in;
  }
  char plain[] = "no braces";
  EXPECT_EQ(plain, JC_StripBraces(plain));
  EXPECT_EQ(nullptr, JC_StripBraces(nullptr));
}

TEST(MessageList, KeepDecidesWhetherPostsAccumulate) {
  ListGuard g;
  JDB_MsgAddCode(&g.list, 50);
  JDB_MsgAddCode(&g.list, 16);
  ASSERT_NE(nullptr, g.list.head);
  EXPECT_STREQ("S1001", g.list.head->sqlstate);
  EXPECT_STREQ("Memory allocation failure", g.list.head->text);
  EXPECT_EQ(nullptr, g.list.head->next);
  g.list.keep = 1;
  JDB_MsgAddText(&g.list, "second", 15);
  ASSERT_NE(nullptr, g.list.head->next);
  EXPECT_STREQ("second", g.list.head->next->text);
  EXPECT_STREQ("S1000", g.list.head->next->sqlstate);
}

TEST(MessageList, SqlExceptionPostingAndStatus) {
  struct Case {
    const char* state;
    int before;
    int after;
    const char* posted;
  } cases[] = {
      {"08001", 0, 50, "08001"}, {"", 0, 15, "S1000"},     {nullptr, 0, 15, "S1000"},
      {"HY000", 0, 15, "HY000"}, {"08004", 0, 53, "08004"}, {"42S02", 50, 50, "42S02"},
  };
  for (const Case& c : cases) {
    ListGuard g;
    int status = c.before;
    char text[] = "tab\there\nend\xC3\xA9";
    JDB_MsgAddSqlException(&status, c.state, text, 7, &g.list);
    EXPECT_EQ(c.after, status) << (c.state ? c.state : "null");
    ASSERT_NE(nullptr, g.list.head);
    EXPECT_STREQ(c.posted, g.list.head->sqlstate);
    EXPECT_STREQ("tab here end\xC3\xA9", g.list.head->text);
    EXPECT_EQ(7, g.list.head->native);
  }
  std::string longText(3000, 'y');
  AgentMsg* m = JDB_MsgNew(longText.c_str(), 0, "S1000");
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(2047u, std::strlen(m->text));
  AgentMsgList one{};
  JDB_MsgAppend(&one, m);
  JDB_MsgFreeList(&one);
  EXPECT_EQ(nullptr, one.head);
}

}  // namespace

namespace {

std::vector<std::string>* gLines = nullptr;

void Collect(kx::LogSink*, int, const char* line) {
  if (gLines != nullptr) gLines->emplace_back(line);
}

TEST(CallLayer, TraceSwitchWritesDebugLinesOnlyWhileOn) {
  JNIEnv* env = Jni();
  ASSERT_NE(nullptr, env);
  LocalFrame frame;
  std::vector<std::string> lines;
  gLines = &lines;
  kx::LogSink* sink = kx::LogSinkOpenCb(Collect, nullptr, kx::LOG_DEBUG, 0xFFFFFFFFu, 0);
  ASSERT_NE(nullptr, sink);
  jstring s = JC_NewString(env, "abc", JC_MODE_UTF8);
  jint n = 0;
  JC_CallIntMethod(env, s, nullptr, "length", "()I", &n);
  size_t quiet = lines.size();
  JC_TraceCalls = 1;
  JC_CallIntMethod(env, s, nullptr, "length", "()I", &n);
  JC_TraceCalls = 0;
  kx::LogSinkClose(sink);
  std::free(sink);
  gLines = nullptr;
  EXPECT_EQ(0u, quiet);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("  CallIntMethod name=[length] sig=[()I]"));
}

}  // namespace
