#include "drv_jdbc/j_connect.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_serv.h"
#include "util/errcodes.h"
#include "util/log.h"
#include "util/str_util.h"

namespace kx {

namespace {

void Trace(const char* text) {
  if (JC_Tracing()) LogAt(LOG_DEBUG, __FILE__, __LINE__, "%s", text);
}

void Fail(const char* text) { LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", text); }

// The DBMS refused the connection (server down, wrong password...): the
// application gets the reason as a diagnostic, so this is no driver error and
// stays off standard error when no log is configured.
void Refused() { LogAt(LOG_WARNING, __FILE__, __LINE__, "Can't connect to DBMS..."); }

// The JDBC library's class could not be loaded. The usual cause is a jar
// directory that is not set or does not hold the jars, which the Java text
// ("ClassNotFoundException: ...") does not tell: the message says which
// directory was searched and what sets it. Other load failures (a class that
// fails to initialise) keep the Java text.
void ExplainMissingClass(JConn* conn, const char* classText) {
  const AgentMsg* last = conn->msgs.head;
  while (last != nullptr && last->next != nullptr) last = last->next;
  if (last == nullptr || (std::strstr(last->text, "ClassNotFoundException") == nullptr &&
                          std::strstr(last->text, "NoClassDefFoundError") == nullptr)) {
    return;
  }
  char dotted[256];
  std::snprintf(dotted, sizeof dotted, "%s", classText);
  for (char* p = dotted; *p != '\0'; ++p) {
    if (*p == '/') *p = '.';
  }
  // The first jar of the list is the one that holds the data sources.
  const char* jars = JDB_JarList;
  const int firstJar = static_cast<int>(std::strcspn(jars, ":"));
  const char* dir = JDB_GetJarDir();
  constexpr char kSetBy[] = "QXLibs (or InstallDir) in the driver's section of odbcinst.ini";
  char path[4096];
  std::snprintf(path, sizeof path, "%s%.*s", dir, firstJar, jars);
  char text[JDB_MSG_TEXT_MAX + 1];
  if (*dir == '\0') {
    std::snprintf(text, sizeof text,
                  "JDBC class %s not found: no jar directory is set, so %.*s was looked for in "
                  "the current directory; %s names the directory that holds it",
                  dotted, firstJar, jars, kSetBy);
  } else if (access(path, R_OK) != 0) {
    std::snprintf(text, sizeof text,
                  "JDBC class %s not found: %.*s is not in the jar directory %s, which %s sets",
                  dotted, firstJar, jars, dir, kSetBy);
  } else {
    std::snprintf(text, sizeof text,
                  "JDBC class %s not found in the jars of the jar directory %s, which %s sets",
                  dotted, dir, kSetBy);
  }
  JDB_MsgFreeList(&conn->msgs);
  JDB_MsgAddText(&conn->msgs, text, KX_ERR_DRIVER_LOAD);
}

char* CopyOf(const char* text, size_t n) {
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy == nullptr) return nullptr;
  StrCopyBytes(copy, text, n);
  return copy;
}

void DeleteLocal(JNIEnv* env, jobject ref) {
  if (ref != nullptr) env->DeleteLocalRef(ref);
}

// True when cls implements the interface; *missing set when the interface
// class itself cannot be found.
bool Implements(JConn* conn, jclass cls, const char* iface, bool* missing) {
  JNIEnv* env = conn->jni;
  *missing = false;
  jclass i = env->FindClass(iface);
  if (env->ExceptionCheck() || i == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    DeleteLocal(env, i);
    *missing = true;
    return false;
  }
  bool fits = env->IsAssignableFrom(cls, i);
  env->DeleteLocalRef(i);
  return fits;
}

// Loads cls and makes an instance with its no-argument constructor.
int Instantiate(JConn* conn, const char* name, const char* notFound, const char* noCtor,
                const char* notMade, jclass* clsOut, jobject* objOut) {
  JNIEnv* env = conn->jni;
  *clsOut = nullptr;
  *objOut = nullptr;
  jclass cls = JC_LoadClass(conn, conn->loader, name);
  int status = CheckException(env, conn->unicodeClient, &conn->msgs);
  if (status != 0 || cls == nullptr) {
    DeleteLocal(env, cls);
    LogAt(LOG_ERROR, __FILE__, __LINE__, notFound, name);
    return KX_ERR_DRIVER_LOAD;
  }
  jmethodID ctor = env->GetMethodID(cls, "<init>", "()V");
  if (env->ExceptionCheck() || ctor == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    env->DeleteLocalRef(cls);
    Fail(noCtor);
    return KX_ERR_GENERAL;
  }
  jobject obj = env->NewObject(cls, ctor);
  if (env->ExceptionCheck() || obj == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    DeleteLocal(env, obj);
    env->DeleteLocalRef(cls);
    Fail(notMade);
    return KX_ERR_GENERAL;
  }
  *clsOut = cls;
  *objOut = obj;
  return 0;
}

// A String for a user or password: Java null for a null text. 16 on failure.
int OptionalString(JConn* conn, const char* text, jstring* out) {
  *out = nullptr;
  if (text == nullptr) return 0;
  *out = JC_NewString(conn->jni, text, conn->unicodeClient);
  if (*out == nullptr) {
    JC_ClearException(conn->jni);
    Fail("Memory allocation failure");
    return KX_ERR_NOMEM;
  }
  return 0;
}

}  // namespace

DsProp* JC_ParseProps(const char* text) {
  auto* props = static_cast<DsProp*>(std::calloc(JC_MAX_PROPS, sizeof(DsProp)));
  if (props == nullptr) return nullptr;
  if (text == nullptr) return props;
  int count = 0;
  int depth = 0;
  const char* start = text;
  bool failed = false;
  auto add = [&](const char* end) {
    size_t n = static_cast<size_t>(end - start);
    const char* eq = static_cast<const char*>(std::memchr(start, '=', n));
    size_t nameLen = eq != nullptr ? static_cast<size_t>(eq - start) : n;
    props[count].name = CopyOf(start, nameLen);
    if (eq != nullptr) props[count].value = CopyOf(eq + 1, n - nameLen - 1);
    if (props[count].name == nullptr || (eq != nullptr && props[count].value == nullptr)) {
      failed = true;
    }
    ++count;
  };
  const char* p = text;
  for (; *p != '\0' && count < JC_MAX_PROPS; ++p) {
    if (*p == '{') {
      ++depth;
    } else if (*p == '}') {
      --depth;
    } else if (*p == ';' && depth == 0) {
      add(p);
      start = p + 1;
    }
  }
  if (count < JC_MAX_PROPS && *p == '\0' && p > start) add(p);
  if (failed) {
    JC_FreeProps(props);
    return nullptr;
  }
  return props;
}

void JC_FreeProps(DsProp* props) {
  if (props == nullptr) return;
  for (int i = 0; i < JC_MAX_PROPS; ++i) {
    std::free(props[i].name);
    std::free(props[i].value);
  }
  std::free(props);
}

namespace {

// Why the data source has no property of that name. After a JDBC URL the
// usual cause is the URL's own options (H2's ";DB_CLOSE_DELAY=-1") written
// without braces of their own: the list was cut at the URL's first ';' and
// the options were read as properties. Otherwise it is usually a bare JDBC
// URL where the property list was meant.
void UnknownPropertyText(const DsProp* props, int at, const char* method, char* text,
                         size_t size) {
  const DsProp* url = nullptr;
  for (int i = 0; i < at; ++i) {
    if (strcasecmp(props[i].name, "URL") == 0 && props[i].value != nullptr &&
        strncasecmp(props[i].value, "jdbc:", 5) == 0) {
      url = &props[i];
    }
  }
  const char* name = props[at].name;
  if (url != nullptr) {
    const char* value = props[at].value;
    std::snprintf(text, size,
                  "Can't find method[%s] in DataSource: the data source has no property "
                  "%.200s. A value that holds ';' (such as a JDBC URL with options) needs "
                  "braces of its own inside the property list, else it ends at its first ';': "
                  "URL={URL={%.300s;%.200s%s%.200s}}",
                  method, name, url->value, name, value != nullptr ? "=" : "",
                  value != nullptr ? value : "");
    return;
  }
  std::snprintf(text, size,
                "Can't find method[%s] in DataSource: the data source has no property "
                "%.200s (the connect-string keyword URL, data-source key URLString, "
                "holds properties such as URL={URL=jdbc:...})",
                method, name);
}

}  // namespace

int JC_DataSource_setProperties(JConn* conn, jclass dsClass, jobject ds, const DsProp* props) {
  JNIEnv* env = conn->jni;
  for (int i = 0; i < JC_MAX_PROPS && props[i].name != nullptr; ++i) {
    char method[JC_MAX_SETTER_NAME + 4];
    std::snprintf(method, sizeof method, "set%.200s", props[i].name);
    const char* value = props[i].value;
    int rc = KX_ERR_GENERAL;
    jmethodID id = env->GetMethodID(dsClass, method, "(Ljava/lang/String;)V");
    if (!env->ExceptionCheck() && id != nullptr) {
      jstring s = JC_NewString(env, value != nullptr ? value : "", conn->unicodeClient);
      if (s == nullptr) {
        JC_ClearException(env);
        Fail("Memory allocation failure");
        return KX_ERR_NOMEM;
      }
      rc = JC_CallVoidMethod(env, ds, dsClass, method, "(Ljava/lang/String;)V", s);
      env->DeleteLocalRef(s);
    } else {
      env->ExceptionClear();
      id = env->GetMethodID(dsClass, method, "(I)V");
      if (!env->ExceptionCheck() && id != nullptr) {
        jint n = value != nullptr ? static_cast<jint>(std::strtol(value, nullptr, 10)) : 0;
        rc = JC_CallVoidMethod(env, ds, dsClass, method, "(I)V", n);
      } else {
        env->ExceptionClear();
        id = env->GetMethodID(dsClass, method, "(Z)V");
        if (!env->ExceptionCheck() && id != nullptr) {
          jboolean b = value != nullptr && (value[0] == '1' || value[0] == 'T' ||
                                            value[0] == 't' || value[0] == 'Y');
          rc = JC_CallVoidMethod(env, ds, dsClass, method, "(Z)V", b);
        } else {
          env->ExceptionClear();
          id = env->GetMethodID(dsClass, method, "()V");
          if (!env->ExceptionCheck() && id != nullptr) {
            rc = JC_CallVoidMethod(env, ds, dsClass, method, "()V");
          } else {
            env->ExceptionClear();
            LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't find method[%s] in DataSource", method);
            char text[JDB_MSG_TEXT_MAX + 1];
            UnknownPropertyText(props, i, method, text, sizeof text);
            JDB_MsgAddText(&conn->msgs, text, KX_ERR_GENERAL);
            return KX_ERR_GENERAL;
          }
        }
      }
    }
    if (rc != 0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't call method [%s] on DataSource ...", method);
      return KX_ERR_GENERAL;
    }
  }
  return 0;
}

namespace {

// Common part of the two data-source paths: class, instance, properties,
// user and password Strings.
struct DsSetup {
  jclass cls = nullptr;
  jobject ds = nullptr;
  jstring user = nullptr;
  jstring password = nullptr;
};

int PrepareDataSource(JConn* conn, const char* dsClass, const char* propText, const char* user,
                      const char* password, DsSetup* s) {
  DsProp* props = JC_ParseProps(propText);
  if (props == nullptr) {
    Fail("Memory allocation failure");
    return KX_ERR_NOMEM;
  }
  int status = OptionalString(conn, user, &s->user);
  if (status == 0) status = OptionalString(conn, password, &s->password);
  if (status == 0) {
    status = Instantiate(conn, dsClass, "Can't find JDBC DataSource = %s",
                         "Can't find <init> class in DataSource", "Can't create DataSource class",
                         &s->cls, &s->ds);
  }
  if (status == 0) status = JC_DataSource_setProperties(conn, s->cls, s->ds, props);
  JC_FreeProps(props);
  return status;
}

void ReleaseSetup(JNIEnv* env, DsSetup* s) {
  DeleteLocal(env, s->user);
  DeleteLocal(env, s->password);
  DeleteLocal(env, s->ds);
  DeleteLocal(env, s->cls);
}

}  // namespace

int JC_DataSource_getConnection(JConn* conn, jobject* out, const char* dsClass,
                                const char* props, const char* user, const char* password) {
  Trace("DataSource.getConnection");
  *out = nullptr;
  JNIEnv* env = conn->jni;
  DsSetup s;
  int status = PrepareDataSource(conn, dsClass, props, user, password, &s);
  if (status == 0) {
    jobject c = nullptr;
    if (JC_CallObjectMethod(env, s.ds, s.cls, "getConnection",
                            "(Ljava/lang/String;Ljava/lang/String;)Ljava/sql/Connection;", &c,
                            s.user, s.password) != 0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Refused();
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else if (c == nullptr) {
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else {
      *out = c;
    }
  }
  ReleaseSetup(env, &s);
  return status;
}

int JC_DataSource_getXAConnection(JConn* conn, jobject* out, const char* dsClass,
                                  const char* props, const char* user, const char* password,
                                  jobject* xaConn, jobject* xaRes) {
  Trace("DataSource.getXAConnection");
  *out = nullptr;
  *xaConn = nullptr;
  *xaRes = nullptr;
  JNIEnv* env = conn->jni;
  DsSetup s;
  int status = PrepareDataSource(conn, dsClass, props, user, password, &s);
  jobject xc = nullptr, c = nullptr, r = nullptr;
  if (status == 0) {
    if (JC_CallObjectMethod(env, s.ds, s.cls, "getXAConnection",
                            "(Ljava/lang/String;Ljava/lang/String;)Ljavax/sql/XAConnection;", &xc,
                            s.user, s.password) != 0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Refused();
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else if (xc == nullptr) {
      status = KX_ERR_UNABLE_TO_CONNECT;
    }
  }
  if (status == 0) {
    if (JC_CallObjectMethod(env, xc, nullptr, "getConnection", "()Ljava/sql/Connection;", &c) !=
        0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Fail("Can't get connection ...");
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else if (JC_CallObjectMethod(env, xc, nullptr, "getXAResource",
                                   "()Ljavax/transaction/xa/XAResource;", &r) != 0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Fail("Can't get connection ...");
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else if (c == nullptr || r == nullptr) {
      status = KX_ERR_UNABLE_TO_CONNECT;
    }
  }
  if (status == 0) {
    *out = c;
    *xaConn = xc;
    *xaRes = r;
  } else {
    DeleteLocal(env, c);
    DeleteLocal(env, r);
    DeleteLocal(env, xc);
  }
  ReleaseSetup(env, &s);
  return status;
}

int JC_DriverManager_getConnection(JConn* conn, jobject* out, char* driverClass, char* url,
                                   const char* user, const char* password) {
  Trace("DriverManager.getConnection");
  *out = nullptr;
  JNIEnv* env = conn->jni;
  driverClass = JC_StripBraces(driverClass);
  url = JC_StripBraces(url);
  jclass propsClass = env->FindClass("java/util/Properties");
  if (env->ExceptionCheck() || propsClass == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    DeleteLocal(env, propsClass);
    Fail("Can't find java.util.Properties");
    return KX_ERR_DRIVER_LOAD;
  }
  int status = 0;
  jobject props = nullptr;
  jmethodID ctor = env->GetMethodID(propsClass, "<init>", "()V");
  if (env->ExceptionCheck() || ctor == nullptr) {
    CheckException(env, conn->unicodeClient, &conn->msgs);
    Fail("Can't find <init> in Properties class");
    status = KX_ERR_GENERAL;
  } else {
    props = env->NewObject(propsClass, ctor);
    if (env->ExceptionCheck() || props == nullptr) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Fail("Can't create Properties object");
      status = KX_ERR_GENERAL;
    }
  }
  const char* keys[2] = {"user", "password"};
  const char* values[2] = {user, password};
  for (int i = 0; i < 2 && status == 0; ++i) {
    if (values[i] == nullptr) continue;
    jstring v = JC_NewString(env, values[i], conn->unicodeClient);
    jstring k = v != nullptr ? JC_NewString(env, keys[i], conn->unicodeClient) : nullptr;
    if (v == nullptr || k == nullptr) {
      JC_ClearException(env);
      Fail("Memory allocation failure");
      status = KX_ERR_NOMEM;
    } else {
      jobject old = nullptr;
      if (JC_CallObjectMethod(env, props, propsClass, "setProperty",
                              "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Object;", &old, k,
                              v) != 0) {
        CheckException(env, conn->unicodeClient, &conn->msgs);
        status = KX_ERR_GENERAL;
      }
      DeleteLocal(env, old);
    }
    DeleteLocal(env, k);
    DeleteLocal(env, v);
  }
  jclass drvClass = nullptr;
  jobject driver = nullptr;
  if (status == 0) {
    status = Instantiate(conn, driverClass, "Can't find JDBC Driver = %s",
                         "Can't find <init> class in JDBC Driver", "Can't create Driver class",
                         &drvClass, &driver);
  }
  jstring jurl = nullptr;
  if (status == 0) {
    jurl = JC_NewString(env, url != nullptr ? url : "", conn->unicodeClient);
    if (jurl == nullptr) {
      JC_ClearException(env);
      Fail("Memory allocation failure");
      status = KX_ERR_NOMEM;
    }
  }
  if (status == 0) {
    jobject c = nullptr;
    if (JC_CallObjectMethod(env, driver, drvClass, "connect",
                            "(Ljava/lang/String;Ljava/util/Properties;)Ljava/sql/Connection;", &c,
                            jurl, props) != 0) {
      CheckException(env, conn->unicodeClient, &conn->msgs);
      Refused();
      status = KX_ERR_UNABLE_TO_CONNECT;
    } else if (c == nullptr) {
      status = KX_ERR_UNABLE_TO_CONNECT;  // the driver does not take this URL
    } else {
      *out = c;
    }
  }
  if (JC_Tracing()) {
    LogAt(LOG_DEBUG, __FILE__, __LINE__, "End DriverManager.getConnection [%d]", status);
  }
  DeleteLocal(env, jurl);
  DeleteLocal(env, driver);
  DeleteLocal(env, drvClass);
  DeleteLocal(env, props);
  env->DeleteLocalRef(propsClass);
  return status;
}

int _getConnection(JConn* conn, jobject* out, char* classText, char* url, const char* user,
                   const char* password, char** secondClass) {
  Trace("_getConnection");
  *out = nullptr;
  JNIEnv* env = conn->jni;
  classText = JC_StripBraces(classText);
  url = JC_StripBraces(url);
  if (classText == nullptr) classText = const_cast<char*>("");
  if (char* semi = std::strchr(classText, ';'); semi != nullptr) {
    *semi = '\0';
    if (semi[1] != '\0' && secondClass != nullptr) {
      *secondClass = CopyOf(semi + 1, std::strlen(semi + 1));
      if (*secondClass == nullptr) return KX_ERR_NOMEM;
    }
  }
  jclass cls = JC_LoadClass(conn, conn->loader, classText);
  int status = CheckException(env, conn->unicodeClient, &conn->msgs);
  if (status != 0 || cls == nullptr) {
    DeleteLocal(env, cls);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't find DBMS Driver = [%s]", classText);
    ExplainMissingClass(conn, classText);
    return KX_ERR_DRIVER_LOAD;
  }
  static const char* const kIfaces[] = {"java/sql/Driver", "javax/sql/DataSource",
                                        "javax/sql/ConnectionPoolDataSource",
                                        "javax/sql/XADataSource"};
  static const char* const kMissing[] = {
      "Can't find java.sql.Driver", "Can't find javax.sql.DataSource",
      "Can't find javax.sql.ConnectionPoolDataSource", "Can't find javax.sql.XADataSource"};
  status = -1;
  for (int i = 0; i < 4 && status == -1; ++i) {
    bool missing = false;
    bool fits = Implements(conn, cls, kIfaces[i], &missing);
    if (missing) {
      Fail(kMissing[i]);
      status = KX_ERR_DRIVER_LOAD;
    } else if (fits) {
      status = i == 0 ? JC_DriverManager_getConnection(conn, out, classText, url, user, password)
                      : JC_DataSource_getConnection(conn, out, classText, url, user, password);
    }
  }
  if (status == -1) {
    // Connecting "successfully" without a Connection would only fail later
    // with a NullPointerException; say what is wrong instead.
    char text[512];
    std::snprintf(text, sizeof text,
                  "Class %.400s is neither a JDBC driver nor a data source", classText);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "%s", text);
    JDB_MsgAddText(&conn->msgs, text, KX_ERR_DRIVER_LOAD);
    status = KX_ERR_DRIVER_LOAD;
  }
  if (JC_Tracing()) LogAt(LOG_DEBUG, __FILE__, __LINE__, "End _getConnection [%d]", status);
  env->DeleteLocalRef(cls);
  return status;
}

}  // namespace kx
