// A stand-in for the setup library's login dialog: ZntLOGIN answers with a
// scripted result and connect string and records what it was shown, so that
// tests can prove cancel, confirm and edited values.
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
int g_result = 1;
std::string g_reply;
bool g_replyNull = false;
int g_calls = 0;
int g_frees = 0;
int g_lastMode = 0;
std::string g_lastDriver;
std::string g_lastInput;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ZntLOGIN(void* parent, const char* driver,
                                                     const char* connIn, char** result, int mode) {
  (void)parent;
  ++g_calls;
  g_lastDriver = driver != nullptr ? driver : "<null>";
  g_lastInput = connIn != nullptr ? connIn : "<null>";
  g_lastMode = mode;
  *result = g_replyNull ? nullptr : strdup(g_reply.c_str());
  return g_result;
}

__attribute__((visibility("default"))) void ZntLOGIN_Free(char* result) {
  ++g_frees;
  free(result);
}

// Script of the next dialogs: the result code and the connect string the
// dialog stores (NULL: it stores none).
__attribute__((visibility("default"))) void LoginStubScript(int result, const char* reply) {
  g_result = result;
  g_replyNull = reply == nullptr;
  g_reply = reply != nullptr ? reply : "";
  g_calls = 0;
  g_frees = 0;
  g_lastMode = 0;
  g_lastDriver.clear();
  g_lastInput.clear();
}

__attribute__((visibility("default"))) int LoginStubCalls() { return g_calls; }
__attribute__((visibility("default"))) int LoginStubFrees() { return g_frees; }
__attribute__((visibility("default"))) int LoginStubLastMode() { return g_lastMode; }
__attribute__((visibility("default"))) const char* LoginStubLastDriver() {
  return g_lastDriver.c_str();
}
__attribute__((visibility("default"))) const char* LoginStubLastInput() {
  return g_lastInput.c_str();
}

}  // extern "C"
