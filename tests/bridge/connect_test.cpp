// The JDBC connection paths: the stand-in data source on H2 and PostgreSQL,
// the property list and its setters, and every way a connect can fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_connect.h"

using namespace kx;
using kxtest::Conn;
using kxtest::Jni;
using kxtest::LocalFrame;

namespace {

TEST(Connect, H2ThroughTheStandInDataSource) {
  Conn c;
  ASSERT_EQ(0, c.Open(kxtest::H2Props("connect1"))) << c.Messages();
  ASSERT_NE(nullptr, c.conn());
  LocalFrame frame;
  char catalog[64];
  EXPECT_EQ(0, JC_Connection_getCatalog(&c.rec, c.conn(), catalog, sizeof catalog));
  EXPECT_STREQ("CONNECT1", catalog);
}

TEST(Connect, SecondClassOfTheListIsHandedBack) {
  Conn c;
  LocalFrame frame;
  char classes[] = "  {com.informix.jdbcx.IfxDataSource;com.informix.jdbcx.IfxXADataSource}  ";
  std::string props = "{" + kxtest::H2Props("connect2") + "}";
  char* second = nullptr;
  jobject local = nullptr;
  ASSERT_EQ(0, _getConnection(&c.rec, &local, classes, props.data(), "", "", &second))
      << c.Messages();
  EXPECT_NE(nullptr, local);
  ASSERT_NE(nullptr, second);
  EXPECT_STREQ("com.informix.jdbcx.IfxXADataSource", second);
  std::free(second);
  EXPECT_EQ(0, JC_Connection_close(&c.rec, local));
}

TEST(Connect, PostgreSql) {
  std::string props, user, password;
  ASSERT_TRUE(kxtest::PgProps(&props, &user, &password));
  Conn c;
  ASSERT_EQ(0, c.Open(props, user.c_str(), password.c_str())) << c.Messages();
  Conn wrong;
  EXPECT_EQ(50, wrong.Open(props, user.c_str(), "not-the-password"));
  ASSERT_NE(nullptr, wrong.rec.msgs.head);
  EXPECT_NE(nullptr, std::strstr(wrong.rec.msgs.head->text, "password"))
      << wrong.Messages();
}

struct FailCase {
  const char* name;
  const char* classes;
  const char* props;  // nullptr: no property list
  int status;
  const char* state;  // expected SQLSTATE of the one message; nullptr: no message
  const char* text;   // part of the message text
};

TEST(Connect, FailuresGiveTheirStatusAndOneMessage) {
  const FailCase cases[] = {
      {"no property list", "com.informix.jdbcx.IfxDataSource", nullptr, 50, "08001", "URL"},
      {"unknown property", "com.informix.jdbcx.IfxDataSource", "URL={jdbc:h2:mem:x};Colour=red",
       15, "S1000", "the data source has no property Colour (the connect-string keyword URL"},
      {"no such class", "com.informix.jdbcx.Missing", "URL={jdbc:h2:mem:x}", 3, "IM003",
       "JDBC class com.informix.jdbcx.Missing not found in the jars of the jar directory "},
      {"unknown URL prefix", "com.informix.jdbcx.IfxDataSource", "URL=jdbc:nothing:here", 50,
       "08001", "jdbc:nothing:"},
      // A URL's own options cut off by the list's ';': the message shows the
      // braces that keep them in the URL.
      {"URL options without braces", "com.informix.jdbcx.IfxDataSource",
       "URL=jdbc:h2:mem:x;DB_CLOSE_DELAY=-1", 15, "S1000",
       "needs braces of its own inside the property list, else it ends at its first ';': "
       "URL={URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}}"},
      // The JDBC driver says only that the attempt failed; the reason is its
      // exception's cause.
      {"unknown host", "com.informix.jdbcx.IfxDataSource",
       "URL=jdbc:postgresql://nohost.invalid:5432/x", 50, "08001",
       "(java.net.UnknownHostException: nohost.invalid)"},
  };
  for (const FailCase& f : cases) {
    SCOPED_TRACE(f.name);
    Conn c;
    LocalFrame frame;
    std::string classes = f.classes;
    std::string props = f.props != nullptr ? f.props : "";
    jobject local = nullptr;
    int rc = _getConnection(&c.rec, &local, classes.data(), f.props ? props.data() : nullptr, "",
                            "", nullptr);
    EXPECT_EQ(f.status, rc);
    EXPECT_EQ(nullptr, local);
    ASSERT_NE(nullptr, c.rec.msgs.head) << "no message";
    EXPECT_STREQ(f.state, c.rec.msgs.head->sqlstate);
    EXPECT_NE(nullptr, std::strstr(c.rec.msgs.head->text, f.text)) << c.Messages();
    EXPECT_FALSE(Jni()->ExceptionCheck());
  }
}

TEST(Connect, ProbeClassesForDriverPaths) {
  Conn c;
  c.rec.loader = kxtest::ProbeLoader();
  LocalFrame frame;
  jobject local = nullptr;
  // A JDBC driver that takes no URL: 50 and no message.
  char driver[] = "kxprobe.NullDriver";
  char url[] = "jdbc:none:";
  EXPECT_EQ(50, _getConnection(&c.rec, &local, driver, url, "u", "p", nullptr));
  EXPECT_EQ(nullptr, c.rec.msgs.head);
  // A class that is no JDBC class: 3 with a message, never a silent success.
  char notJdbc[] = "kxprobe.NotJdbc";
  EXPECT_EQ(3, _getConnection(&c.rec, &local, notJdbc, url, "", "", nullptr));
  ASSERT_NE(nullptr, c.rec.msgs.head);
  EXPECT_STREQ("IM003", c.rec.msgs.head->sqlstate);
  EXPECT_EQ(nullptr, local);
  // A data source that answers null: 50.
  char ds[] = "kxprobe.PropsDataSource";
  char props[] = "S=x";
  EXPECT_EQ(50, _getConnection(&c.rec, &local, ds, props, "u", nullptr, nullptr));
}

std::string SetAndLog(Conn& c, const char* propList, int* status) {
  JNIEnv* env = Jni();
  jclass cls = kxtest::ProbeClass("kxprobe/PropsDataSource");
  jobject ds = kxtest::NewProbe("kxprobe/PropsDataSource");
  DsProp* props = JC_ParseProps(propList);
  *status = JC_DataSource_setProperties(&c.rec, cls, ds, props);
  JC_FreeProps(props);
  jobject log = nullptr;
  EXPECT_EQ(0, JC_CallObjectMethod(env, ds, nullptr, "calls", "()Ljava/lang/String;", &log));
  char* text = JC_StringToC(env, static_cast<jstring>(log), JC_MODE_UTF8);
  std::string out = text != nullptr ? text : "";
  std::free(text);
  env->DeleteLocalRef(log);
  env->DeleteLocalRef(ds);
  env->DeleteLocalRef(cls);
  return out;
}

TEST(Connect, SetterLookupOrderAndBooleanValues) {
  Conn c;
  LocalFrame frame;
  int status = -1;
  std::string log = SetAndLog(
      c, "S={a;b};I=42;I;B=Yes;B=yes;B=true;B=T;B=1;B=0;B;V=ignored;Both=7;Num=1", &status);
  EXPECT_EQ(0, status) << c.Messages();
  EXPECT_EQ(
      "S(String)={a;b};I(int)=42;I(int)=0;B(boolean)=true;B(boolean)=false;B(boolean)=true;"
      "B(boolean)=true;B(boolean)=true;B(boolean)=false;B(boolean)=false;V();"
      "Both(String)=7;Num(int)=1;",
      log);

  struct Case {
    const char* props;
    const char* state;
    const char* text;
  } failing[] = {
      {"S=x; I=1", "S1000", "set I"},  // a blank starts the name
      {"S=x;;I=1", "S1000", "method[set]"},
      {"Bad=v", "HY024", "refused v"},
  };
  for (const Case& f : failing) {
    JDB_MsgFreeList(&c.rec.msgs);
    SetAndLog(c, f.props, &status);
    EXPECT_EQ(15, status) << f.props;
    ASSERT_NE(nullptr, c.rec.msgs.head) << f.props;
    EXPECT_STREQ(f.state, c.rec.msgs.head->sqlstate);
    EXPECT_NE(nullptr, std::strstr(c.rec.msgs.head->text, f.text)) << c.Messages();
  }
}

TEST(Connect, PropertyListParsing) {
  DsProp* p = JC_ParseProps("DatabaseName=db;ServerName={a;b};Flag;Empty=;");
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("DatabaseName", p[0].name);
  EXPECT_STREQ("db", p[0].value);
  EXPECT_STREQ("ServerName", p[1].name);
  EXPECT_STREQ("{a;b}", p[1].value);
  EXPECT_STREQ("Flag", p[2].name);
  EXPECT_EQ(nullptr, p[2].value);
  EXPECT_STREQ("Empty", p[3].name);
  EXPECT_STREQ("", p[3].value);
  EXPECT_EQ(nullptr, p[4].name);  // the trailing ';' adds nothing
  JC_FreeProps(p);

  std::string many;
  for (int i = 0; i < 150; ++i) many += "P" + std::to_string(i) + "=" + std::to_string(i) + ";";
  p = JC_ParseProps(many.c_str());
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("P99", p[99].name);
  JC_FreeProps(p);

  p = JC_ParseProps(nullptr);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(nullptr, p[0].name);
  JC_FreeProps(p);
}

}  // namespace
