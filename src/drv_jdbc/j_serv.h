// The Java VM host: one VM per process, found or created on the first server
// allocation and never destroyed; the agent's environment record and handle
// tables on top of it; attachment of calling threads; the two support classes.
#pragma once

#include <jni.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "drv_jdbc/j_records.h"
#include "drv_jdbc/text/j_initsql.h"
#include "util/handle_table.h"

namespace kx {

// The agent's handle tables (tags 0xAAAA, 0xBBBB, 0xCCCC), live while the
// environment is open.
extern HandleTable JDB_EnvTable;
extern HandleTable JDB_ConnTable;
extern HandleTable JDB_StmtTable;

// The jar files the class loader reads, ':'-separated, found in the jar directory.
extern const char* const JDB_JarList;
// Sets the jar directory; a missing trailing '/' is added. The directory the
// environment's class loader reads: set by the first server allocation from
// the setup reader (when one is installed), or directly by a host without one.
void JDB_SetJarDir(const char* dir);
const char* JDB_GetJarDir();
// The reader of the driver's odbcinst.ini sections, installed by the
// driver's wiring at load: the first server allocation of an environment reads
// its jar directory through it from the section the connect named.
void JDB_SetSetupReader(SetupValueFn reader);

// Serialises server close, disconnect sweeps and failed connects.
std::mutex& JDB_AgentMutex();

// What the agent tells the layers above it, which it cannot name itself: the
// driver's wiring fills the table at load, before the first server opens.
struct JDB_UpperHooks {
  void (*lastServerClose)();  // the last agent environment is being freed
};
void JDB_SetUpperHooks(const JDB_UpperHooks& hooks);

// Agent slots 3 and 4. Of options (may be NULL) only the setup section is
// read, when the allocation opens the environment.
int JVM_AllocServer(const AgentServerOptions* options, uint32_t* envHandle);
int JVM_FreeServer(uint32_t envHandle);

// The options the VM is created with: the driver's own, then the user's
// (ZNT_JVM_OPTS, also given apart in *user when asked). 0, or -4 without memory.
int JVM_VmOptions(std::vector<std::string>* options, std::vector<std::string>* user);
// Whether the options must be tried in a child before the VM starts in the
// process: the user added some, here or through the VM's environment variables.
bool JVM_OptionsNeedCheck(const std::vector<std::string>& user);
// Creates the VM with the options and the driver's output, exit and abort
// hooks: 0 or a negative JNI code (-4 when the options cannot be copied).
// *vmOutput is what the VM wrote while it started.
int JVM_Create(const std::vector<std::string>& options, std::string* vmOutput);
// Loads lib/server/libjvm.so of the first of the Java homes that has a usable
// one. Otherwise false, and *failure names each library that is there but
// cannot be loaded (with the loader's reason) and the places where none is.
bool JVM_LoadLibraryFrom(const std::vector<std::string>& homes, std::string* failure);
// Why the calling thread's last server allocation failed ("" when it did not
// or the text was taken already); taking it empties it.
std::string JVM_TakeAllocFailure();
// The calling thread's JNIEnv, attaching it when needed; null on failure.
JNIEnv* JVM_AttachThread();
// Detaches the calling thread when the driver attached it (never the VM's creator).
void JVM_DetachThread();

// Defines (or finds) quillmar/support/XAXid; 0 or 15.
int JC_DefineXidClass(JNIEnv* env, jclass* out);
// The block reader class (quillmar/support/RowBlock), defined in the system
// class loader when the VM does not know it yet: a local reference, or null
// with nothing pending.
jclass JC_DefineRowBlockClass(JNIEnv* env);
// The same for the batch filler (quillmar/support/ParamBatch).
jclass JC_DefineParamBatchClass(JNIEnv* env);
// The same for the class-archive trainer (quillmar/support/ClassTraining).
jclass JC_DefineClassTrainingClass(JNIEnv* env);
// A new ZNTClassLoader over the ';'-separated paths; local reference or null.
jobject JC_CreateClassLoader(JNIEnv* env, const char* paths);
// The class loader's path list for a jar directory: each jar of JDB_JarList
// in that directory, ';'-separated.
std::string JDB_JarPaths(const std::string& jarDir);
// Loads the VM library the way the first connect does (a VM already in the
// process, JAVA_HOME, the system's default Java, javac's JDK, the build's);
// *path is the library's file. False, with JVM_LastFailure saying why.
bool JVM_FindLibrary(std::string* path);

// Text of the last failure to find or start the VM ("" when none).
const char* JVM_LastFailure();
// The VM, or null before the first allocation.
JavaVM* JVM_Current();
// Threads currently attached by the driver (for diagnostics and tests).
int JVM_AttachedCount();
// Open count of the environment.
int JVM_OpenCount();

}  // namespace kx
