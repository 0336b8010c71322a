#include "drv_jdbc/j_xa.h"

#include <cstdlib>
#include <cstring>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

constexpr const char* kRes = "javax/transaction/xa/XAResource";
JMethod mCommit{kRes, "commit", "(Ljavax/transaction/xa/Xid;Z)V"};
JMethod mEnd{kRes, "end", "(Ljavax/transaction/xa/Xid;I)V"};
JMethod mStart{kRes, "start", "(Ljavax/transaction/xa/Xid;I)V"};
JMethod mForget{kRes, "forget", "(Ljavax/transaction/xa/Xid;)V"};
JMethod mPrepare{kRes, "prepare", "(Ljavax/transaction/xa/Xid;)I"};
JMethod mRollback{kRes, "rollback", "(Ljavax/transaction/xa/Xid;)V"};
JMethod mRecover{kRes, "recover", "(I)[Ljavax/transaction/xa/Xid;"};

constexpr const char* kXid = "javax/transaction/xa/Xid";
JMethod mFormatId{kXid, "getFormatId", "()I"};
JMethod mGtrid{kXid, "getGlobalTransactionId", "()[B"};
JMethod mBqual{kXid, "getBranchQualifier", "()[B"};

bool LengthsValid(const XID* xid) {
  return xid->gtrid_length >= 0 && xid->gtrid_length <= MAXGTRIDSIZE && xid->bqual_length >= 0 &&
         xid->bqual_length <= MAXBQUALSIZE;
}

// The X/Open code of the pending exception: an XAException's errorCode when
// it carries one, else XAER_RMERR. The exception stays pending.
int PendingXaCode(JNIEnv* env) {
  jthrowable ex = env->ExceptionOccurred();
  if (ex == nullptr) return XAER_RMERR;
  env->ExceptionClear();
  int code = XAER_RMERR;
  jclass xaEx = env->FindClass("javax/transaction/xa/XAException");
  if (!env->ExceptionCheck() && xaEx != nullptr && env->IsInstanceOf(ex, xaEx)) {
    jfieldID f = env->GetFieldID(xaEx, "errorCode", "I");
    if (!env->ExceptionCheck() && f != nullptr) {
      jint v = env->GetIntField(ex, f);
      if (v != 0) code = v;
    }
  }
  env->ExceptionClear();
  if (xaEx != nullptr) env->DeleteLocalRef(xaEx);
  env->Throw(ex);
  env->DeleteLocalRef(ex);
  return code;
}

// The common steps of the single-identifier wrappers.
template <typename Call>
int WithXid(JConn* c, const XID* xid, const char* trace, Call call) {
  JW_Trace("%s", trace);
  JNIEnv* env = c->jni;
  if (env == nullptr) return XAER_RMERR;
  if (xid != nullptr && !LengthsValid(xid)) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "XID creation failure");
    JDB_MsgAddText(&c->msgs, "Invalid XID: a length outside 0..64", KX_ERR_GENERAL);
    return XAER_INVAL;
  }
  jobject jxid = JC_NewXid(env, c->xidClass, xid);
  int code = 0;
  if (jxid == nullptr) code = env->ExceptionCheck() ? PendingXaCode(env) : XAER_RMERR;
  if (CheckException(env, c->unicodeClient, &c->msgs) != 0 || jxid == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "XID creation failure");
    JW_Delete(env, jxid);
    return code != 0 ? code : XAER_RMERR;
  }
  jint result = 0;
  if (call(env, jxid, &result) != 0) {
    code = PendingXaCode(env);
    CheckException(env, c->unicodeClient, &c->msgs);
    result = code;
  }
  env->DeleteLocalRef(jxid);
  return result;
}

}  // namespace

jobject JC_NewXid(JNIEnv* env, jclass xidClass, const XID* xid) {
  if (env == nullptr || xid == nullptr || xidClass == nullptr) return nullptr;
  // Lengths are checked before any byte of the data is read.
  if (!LengthsValid(xid)) return nullptr;
  jmethodID ctor = env->GetMethodID(xidClass, "<init>", "(I[B[B)V");
  if (env->ExceptionCheck() || ctor == nullptr) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Can't find <init> in XAXID class");
    return nullptr;
  }
  jsize g = static_cast<jsize>(xid->gtrid_length);
  jsize b = static_cast<jsize>(xid->bqual_length);
  jbyteArray gtrid = env->NewByteArray(g);
  if (env->ExceptionCheck() || gtrid == nullptr) return nullptr;
  jbyteArray bqual = env->NewByteArray(b);
  if (env->ExceptionCheck() || bqual == nullptr) {
    env->DeleteLocalRef(gtrid);
    return nullptr;
  }
  env->SetByteArrayRegion(gtrid, 0, g, reinterpret_cast<const jbyte*>(xid->data));
  if (!env->ExceptionCheck()) {
    env->SetByteArrayRegion(bqual, 0, b, reinterpret_cast<const jbyte*>(xid->data + g));
  }
  jobject obj = nullptr;
  if (!env->ExceptionCheck()) {
    obj = env->NewObject(xidClass, ctor, static_cast<jint>(xid->formatID), gtrid, bqual);
  }
  env->DeleteLocalRef(gtrid);
  env->DeleteLocalRef(bqual);
  if (env->ExceptionCheck()) {
    JW_Delete(env, obj);
    return nullptr;
  }
  return obj;
}

int JC_XidToC(JNIEnv* env, jobject xid, XID* out) {
  if (env == nullptr || xid == nullptr || out == nullptr) return KX_ERR_GENERAL;
  jint format = 0;
  jobject g = nullptr, b = nullptr;
  if (JC_CallInt(env, xid, mFormatId, &format) != 0) return KX_ERR_GENERAL;
  if (JC_CallObject(env, xid, mGtrid, &g) != 0) return KX_ERR_GENERAL;
  if (JC_CallObject(env, xid, mBqual, &b) != 0) {
    JW_Delete(env, g);
    return KX_ERR_GENERAL;
  }
  std::memset(out, 0, sizeof *out);
  out->formatID = format;
  jsize gl = g != nullptr ? env->GetArrayLength(static_cast<jbyteArray>(g)) : 0;
  jsize bl = b != nullptr ? env->GetArrayLength(static_cast<jbyteArray>(b)) : 0;
  if (gl > MAXGTRIDSIZE) gl = MAXGTRIDSIZE;
  if (bl > MAXBQUALSIZE) bl = MAXBQUALSIZE;
  out->gtrid_length = gl;
  out->bqual_length = bl;
  int status = 0;
  if (gl > 0) env->GetByteArrayRegion(static_cast<jbyteArray>(g), 0, gl,
                                      reinterpret_cast<jbyte*>(out->data));
  if (env->ExceptionCheck()) status = KX_ERR_GENERAL;
  if (status == 0 && bl > 0) {
    env->GetByteArrayRegion(static_cast<jbyteArray>(b), 0, bl,
                            reinterpret_cast<jbyte*>(out->data + gl));
    if (env->ExceptionCheck()) status = KX_ERR_GENERAL;
  }
  JW_Delete(env, g);
  JW_Delete(env, b);
  return status;
}

int JC_XAResource_commit(JConn* c, const XID* xid, long onePhase) {
  // The flag may arrive as TMONEPHASE, whose low byte is 0.
  jboolean one = ((onePhase & 0xFF) != 0 || (onePhase & TMONEPHASE) != 0) ? JNI_TRUE : JNI_FALSE;
  return WithXid(c, xid, "XAResource.commit", [&](JNIEnv* env, jobject x, jint*) {
    return JC_CallVoid(env, c->xaRes, mCommit, x, one);
  });
}

int JC_XAResource_end(JConn* c, const XID* xid, long flags) {
  return WithXid(c, xid, "XAResource.end", [&](JNIEnv* env, jobject x, jint*) {
    return JC_CallVoid(env, c->xaRes, mEnd, x, static_cast<jint>(flags));
  });
}

int JC_XAResource_start(JConn* c, const XID* xid, long flags) {
  return WithXid(c, xid, "XAResource.start", [&](JNIEnv* env, jobject x, jint*) {
    return JC_CallVoid(env, c->xaRes, mStart, x, static_cast<jint>(flags));
  });
}

int JC_XAResource_forget(JConn* c, const XID* xid) {
  return WithXid(c, xid, "XAResource.forget", [&](JNIEnv* env, jobject x, jint*) {
    return JC_CallVoid(env, c->xaRes, mForget, x);
  });
}

int JC_XAResource_prepare(JConn* c, const XID* xid) {
  return WithXid(c, xid, "XAResource.prepare", [&](JNIEnv* env, jobject x, jint* result) {
    return JC_CallInt(env, c->xaRes, mPrepare, result, x);
  });
}

int JC_XAResource_rollback(JConn* c, const XID* xid) {
  return WithXid(c, xid, "XAResource.rollback", [&](JNIEnv* env, jobject x, jint*) {
    return JC_CallVoid(env, c->xaRes, mRollback, x);
  });
}

int JC_XAResource_recover(JConn* c, long flags) {
  JW_Trace("XAResource.recover");
  JNIEnv* env = c->jni;
  if (env == nullptr) return XAER_RMERR;
  jobject array = nullptr;
  if (JC_CallObject(env, c->xaRes, mRecover, &array, static_cast<jint>(flags)) != 0) {
    int code = PendingXaCode(env);
    CheckException(env, c->unicodeClient, &c->msgs);
    return code;
  }
  if (array == nullptr) return 0;
  jsize count = env->GetArrayLength(static_cast<jobjectArray>(array));
  XID* records = nullptr;
  if (count > 0) {
    records = static_cast<XID*>(std::calloc(static_cast<size_t>(count), sizeof(XID)));
    if (records == nullptr) {
      env->DeleteLocalRef(array);
      return XAER_RMERR;
    }
  }
  for (jsize i = 0; i < count; ++i) {
    jobject element = env->GetObjectArrayElement(static_cast<jobjectArray>(array), i);
    int status = env->ExceptionCheck() ? KX_ERR_GENERAL : JC_XidToC(env, element, &records[i]);
    JW_Delete(env, element);
    if (status != 0) {
      if (CheckException(env, c->unicodeClient, &c->msgs) == 0) {
        JDB_MsgAddText(&c->msgs, "Invalid transaction identifier from recover", KX_ERR_GENERAL);
      }
      std::free(records);
      env->DeleteLocalRef(array);
      return XAER_RMERR;
    }
  }
  c->xaRecover = records;
  c->xaRecoverCount = count;
  c->xaRecoverCursor = 0;
  env->DeleteLocalRef(array);
  return 0;
}

}  // namespace kx
