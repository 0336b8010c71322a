#include "bridge_support.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_connect.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"

namespace kxtest {

using namespace kx;

namespace {
uint32_t gEnvHandle = 0;
JEnv* gEnv = nullptr;
jobject gProbeLoader = nullptr;
}  // namespace

JEnv* Env() {
  if (gEnv == nullptr) {
    JDB_SetJarDir(KX_STANDIN_JAR_DIR);
    int rc = JVM_AllocServer(nullptr, &gEnvHandle);
    if (rc != 0) {
      ADD_FAILURE() << "JVM_AllocServer: " << rc << " " << JVM_LastFailure();
      return nullptr;
    }
    gEnv = static_cast<JEnv*>(HT_Lookup(&JDB_EnvTable, gEnvHandle));
  }
  return gEnv;
}

JNIEnv* Jni() {
  if (Env() == nullptr) return nullptr;
  return JVM_AttachThread();
}

LocalFrame::LocalFrame(int capacity) {
  JNIEnv* env = Jni();
  if (env != nullptr && env->PushLocalFrame(capacity) != 0) ADD_FAILURE() << "PushLocalFrame";
}

LocalFrame::~LocalFrame() {
  JNIEnv* env = Jni();
  if (env != nullptr) env->PopLocalFrame(nullptr);
}

std::string Describe(const AgentMsgList& list) {
  std::string out;
  for (AgentMsg* m = list.head; m != nullptr; m = m->next) {
    out += "[" + std::string(m->sqlstate ? m->sqlstate : "") + ":" + std::to_string(m->native) +
           "] " + m->text + "\n";
  }
  return out;
}

Conn::Conn() {
  JEnv* je = Env();
  rec.env = je;
  rec.jni = Jni();
  rec.loader = je != nullptr ? je->loader : nullptr;
  rec.xidClass = je != nullptr ? je->xidClass : nullptr;
  rec.unicodeClient = 1;
  rec.asciiStreamMode = 1;
  rec.binaryStreamMode = 1;
}

Conn::~Conn() {
  JNIEnv* env = Jni();
  if (env != nullptr) {
    LocalFrame frame;
    if (rec.conn != nullptr) {
      JC_Connection_close(&rec, rec.conn);
      env->DeleteGlobalRef(rec.conn);
    }
    if (rec.meta != nullptr) env->DeleteGlobalRef(rec.meta);
    if (rec.xaConn != nullptr) env->DeleteGlobalRef(rec.xaConn);
    if (rec.xaRes != nullptr) env->DeleteGlobalRef(rec.xaRes);
  }
  JDB_MsgFreeList(&rec.msgs);
  std::free(rec.xaRecover);
}

int Conn::Open(const std::string& properties, const char* user, const char* password) {
  LocalFrame frame;
  rec.jni = Jni();
  char classes[] = "{com.informix.jdbcx.IfxDataSource;com.informix.jdbcx.IfxXADataSource}";
  std::string props = properties;
  char* second = nullptr;
  jobject local = nullptr;
  int rc = _getConnection(&rec, &local, classes, props.data(), user, password, &second);
  std::free(second);
  if (rc != 0) return rc;
  rec.conn = rec.jni->NewGlobalRef(local);
  jobject meta = nullptr;
  rc = JC_Connection_getMetaData(&rec, rec.conn, &meta);
  if (rc == 0) rec.meta = rec.jni->NewGlobalRef(meta);
  return rc;
}

void Conn::Exec(const std::string& sql) {
  LocalFrame frame;
  jobject st = nullptr;
  ASSERT_EQ(0, JC_Connection_createStatement(&rec, rec.conn, &st)) << Messages();
  EXPECT_EQ(0, JC_Statement_executeConn(&rec, st, sql.c_str())) << sql << "\n" << Messages();
  EXPECT_EQ(0, JC_Statement_closeConn(&rec, st));
}

std::string Conn::Messages() const { return Describe(rec.msgs); }

Stmt::Stmt(Conn& c) {
  rec.conn = &c.rec;
  rec.jni = Jni();
  rec.unicodeClient = c.rec.unicodeClient;
}

Stmt::~Stmt() {
  JNIEnv* env = Jni();
  if (env != nullptr && rec.stmt != nullptr) {
    LocalFrame frame;
    JC_Statement_close(&rec, rec.stmt);
    env->DeleteGlobalRef(rec.stmt);
  }
  JDB_MsgFreeList(&rec.msgs);
}

int Stmt::Prepare(const std::string& sql) {
  if (rec.stmt != nullptr) {
    JC_Statement_close(&rec, rec.stmt);
    Jni()->DeleteGlobalRef(rec.stmt);
    rec.stmt = nullptr;
  }
  return JC_Connection_prepareStatement(&rec, rec.conn->conn, sql.c_str());
}

int Stmt::PrepareCall(const std::string& sql) {
  if (rec.stmt != nullptr) {
    JC_Statement_close(&rec, rec.stmt);
    Jni()->DeleteGlobalRef(rec.stmt);
    rec.stmt = nullptr;
  }
  return JC_Connection_prepareCall(&rec, rec.conn->conn, sql.c_str());
}

jobject Stmt::ExecuteQuery() {
  uint8_t hasRs = 0;
  if (JC_PreparedStatement_execute(&rec, rec.stmt, &hasRs) != 0 || !hasRs) return nullptr;
  jobject rs = nullptr;
  if (JC_PreparedStatement_getResultSet(&rec, rec.stmt, &rs) != 0) return nullptr;
  return rs;
}

std::string Stmt::Messages() const { return Describe(rec.msgs); }

std::string H2Props(const std::string& name) {
  return "URL={jdbc:h2:mem:" + name + ";DB_CLOSE_DELAY=-1}";
}

bool PgProps(std::string* props, std::string* user, std::string* password) {
  const char* port = std::getenv("KX_PG_PORT");
  const char* u = std::getenv("KX_PG_USER");
  const char* p = std::getenv("KX_PG_PASSWORD");
  if (port == nullptr || *port == '\0') {
    ADD_FAILURE() << "KX_PG_PORT is not set: the PostgreSQL tests need the server the test "
                     "script starts";
    return false;
  }
  *props = std::string("URL=jdbc:postgresql://127.0.0.1:") + port + "/postgres";
  *user = u != nullptr ? u : "postgres";
  *password = p != nullptr ? p : "";
  return true;
}

std::string Unique(const char* stem) {
  return std::string(stem) + "_" + std::to_string(getpid());
}

jobject ProbeLoader() {
  JNIEnv* env = Jni();
  if (env != nullptr && gProbeLoader == nullptr) {
    jobject loader = JC_CreateClassLoader(env, KX_PROBE_CLASS_DIR "/");
    if (loader == nullptr) {
      ADD_FAILURE() << "no loader over " << KX_PROBE_CLASS_DIR;
      return nullptr;
    }
    gProbeLoader = env->NewGlobalRef(loader);
    env->DeleteLocalRef(loader);
  }
  return gProbeLoader;
}

jclass ProbeClass(const char* name) {
  JNIEnv* env = Jni();
  if (env == nullptr || ProbeLoader() == nullptr) return nullptr;
  JConn c{};
  c.jni = env;
  jclass cls = JC_LoadClass(&c, gProbeLoader, name);
  if (cls == nullptr) {
    CheckException(env, 1, &c.msgs);
    ADD_FAILURE() << "cannot load " << name << ": " << Describe(c.msgs);
    JDB_MsgFreeList(&c.msgs);
  }
  return cls;
}

jobject NewProbe(const char* name) {
  JNIEnv* env = Jni();
  jclass cls = ProbeClass(name);
  if (cls == nullptr) return nullptr;
  jmethodID ctor = env->GetMethodID(cls, "<init>", "()V");
  jobject obj = nullptr;
  if (!env->ExceptionCheck() && ctor != nullptr) obj = env->NewObject(cls, ctor);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
  }
  env->DeleteLocalRef(cls);
  return obj;
}

kx::XID MakeXid(long format, const std::string& gtrid, const std::string& bqual) {
  kx::XID x{};
  x.formatID = format;
  x.gtrid_length = static_cast<long>(gtrid.size());
  x.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(x.data, gtrid.data(), gtrid.size());
  std::memcpy(x.data + gtrid.size(), bqual.data(), bqual.size());
  return x;
}

}  // namespace kxtest
