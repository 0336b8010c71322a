// Library load and unload, the setup values read from odbcinst.ini and the
// driver's message lines.
#include "odbc/libmain.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "agent/build_flavor.h"
#include "odbc/dtc_seam.h"
#include "odbc/handle_layer.h"
#include "odbc/odbc_installer.h"
#include "odbc/trace.h"
#include "util/log.h"

namespace kx {

std::atomic<intptr_t> g_quietModeWindow{QUIET_MODE_UNSET};

namespace {

void* g_instance = nullptr;
AgentBinding g_processBinding{};
LogSink* g_traceSink = nullptr;
constexpr int kTraceSinkLevel = LOG_DEBUG;

struct StringResource {
  int id;
  const char* text;
};

constexpr StringResource kStrings[] = {
    {RES_CAPTION, "Quillmar ODBC"},
    {2, "Quillmar ODBC Agent Loaded."},
    {3, "Quillmar ODBC Agent Unloaded."},
    {4, "Session debugging is enabled.\nCheck %s for details."},
    {RES_ODBC_INIT_FAILED, "Unable to initialize the ODBC layer."},
    {6, "Unable to determine the Quillmar installation directory."},
    {200, "Unable to initialize the working parameters."},
    {201, "Unable to initialize the network layer."},
    {202, "The Quillmar ODBC driver requires Win32."},
    {205, KX_DRIVER_VER},
    {208, "WIN32"},
};

void CopyCut(const char* text, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return;
  snprintf(buffer, static_cast<size_t>(size), "%s", text != nullptr ? text : "");
}

// The path of this library, as the loader knows it.
bool OwnPath(char* out, size_t size) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr) {
    return false;
  }
  char resolved[PATH_MAX];
  const char* path = realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
  snprintf(out, size, "%s", path);
  return true;
}

bool SamePath(const char* a, const char* b) {
  char ra[PATH_MAX];
  if (realpath(a, ra) == nullptr) return strcmp(a, b) == 0;
  return strcmp(ra, b) == 0;
}


// Without installed layers: no agent, an empty table.
const AgentOps kNoAgent{};

void LoadNothing() {}

int BindNoAgent(AgentBinding* binding) {
  binding->flags = AB_REENTRANT;
  binding->ops = &kNoAgent;
  return 0;
}

DriverLayers g_layers{LoadNothing, BindNoAgent, nullptr};

}  // namespace

void DriverInstallLayers(const DriverLayers& layers) { g_layers = layers; }

int DriverBind(AgentBinding* binding) { return g_layers.bind(binding); }

AgentBinding* ProcessBinding() { return &g_processBinding; }

const char* LoadStringResource(int id) {
  if (id == RES_LIBRARY_FILE) return FlavorLibraryFile();
  if (id == RES_DRIVER_DESCRIPTION) {
    return UnicodeBuild() ? "Quillmar Informix Driver (Skerrin Edition)(Unicode)"
                          : "Quillmar Informix Driver (Skerrin Edition)";
  }
  for (const auto& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return "";
}

void GetSetupSection(char* buffer, int size) {
  char self[PATH_MAX];
  if (OwnPath(self, sizeof self)) {
    // Section names come back as one list of terminated names.
    char sections[8192];
    int n = SQLGetPrivateProfileString(nullptr, nullptr, "", sections, sizeof sections,
                                       "ODBCINST.INI");
    for (int pos = 0; n > 0 && pos < n && sections[pos] != '\0';) {
      const char* section = sections + pos;
      char driver[PATH_MAX];
      if (SQLGetPrivateProfileString(section, "Driver", "", driver, sizeof driver,
                                     "ODBCINST.INI") > 0 &&
          SamePath(driver, self)) {
        CopyCut(section, buffer, size);
        return;
      }
      pos += static_cast<int>(strlen(section)) + 1;
    }
  }
  CopyCut(LoadStringResource(RES_DRIVER_DESCRIPTION), buffer, size);
}

namespace {

bool IsDriverSection(const char* section) {
  char driver[PATH_MAX];
  return section != nullptr && *section != '\0' &&
         SQLGetPrivateProfileString(section, "Driver", "", driver, sizeof driver,
                                    "ODBCINST.INI") > 0;
}

}  // namespace

int GetSetupValue(const char* named, const char* name, const char* defaultValue, char* buffer,
                  int size) {
  if (buffer == nullptr || size <= 0) return 0;
  char section[256];
  if (IsDriverSection(named)) {
    CopyCut(named, section, sizeof section);
  } else {
    GetSetupSection(section, sizeof section);
  }
  if (name != nullptr) {
    int n = SQLGetPrivateProfileString(section, name, "", buffer, size, "ODBCINST.INI");
    if (n > 0) {
      buffer[size - 1] = '\0';
      return static_cast<int>(strlen(buffer));
    }
  }
  CopyCut(defaultValue, buffer, size);
  return static_cast<int>(strlen(buffer));
}

int ShowMessage(const char* text, const char* caption, int /*type*/) {
  if (g_quietModeWindow.load() == 0) return 0;
  const char* t = text != nullptr ? text : "";
  const char* c = caption != nullptr ? caption : "";
  LogAt(LOG_ERROR, __FILE__, __LINE__, "%s: %s", c, t);
  fprintf(stderr, "%s: %s\n", c, t);
  return 1;
}

int ShowResourceMessage(const char* text, int type) {
  return ShowMessage(text, LoadStringResource(RES_CAPTION), type);
}

void OpenLogSinks() {
  FILE* stream = TraceStream(TRACE_ODBC);
  if (kTraceSinkLevel < 0 || stream == nullptr || g_traceSink != nullptr) return;
  g_traceSink = LogSinkOpenStream(stream, kTraceSinkLevel, 0xFFFFFFFFu, LOGF_DAYBANNER | LOGF_TIME);
}

int DriverAttach(void* instance) {
  g_instance = instance;
  // There is no older system line to refuse here.
  g_layers.load();
  if (HandlesInit() != 0) {
    ShowResourceMessage(LoadStringResource(RES_ODBC_INIT_FAILED), MSG_WARNING);
    return 0;
  }
  DriverBind(&g_processBinding);
  // Only the environment names a trace at load: which section of
  // odbcinst.ini holds the DebugFile is known at the connect, which opens it.
  if (getenv("ZNT_DEBUGFILE") != nullptr) TraceOpen(TRACE_ODBC);
  if (TraceStream(TRACE_ODBC) != nullptr) OpenLogSinks();
  return 1;
}

void DriverDetach() {
  // Enlistments end first: their rollback still needs the connections.
  Dtc().term();
  HandlesTerm();
  if (g_layers.unload != nullptr) g_layers.unload();
  if (g_traceSink != nullptr) {
    LogSinkClose(g_traceSink);
    free(g_traceSink);
    g_traceSink = nullptr;
  }
  TraceClose(TRACE_ODBC);
}

int LibMain(void* instance) { return DriverAttach(instance); }

int WEP(int) {
  DriverDetach();
  return 1;
}

}  // namespace kx

extern "C" int GetSetupDatabase(char* buffer, int size) {
  kx::CopyCut(kx::LoadStringResource(kx::RES_DRIVER_DESCRIPTION), buffer, size);
  return 1;
}

extern "C" int GetSetupRegistry(char* buffer, int size) {
  char description[128];
  kx::CopyCut(kx::LoadStringResource(kx::RES_DRIVER_DESCRIPTION), description, sizeof description);
  char key[256];
  snprintf(key, sizeof key, "SOFTWARE\\Quillmar Software\\%s", description);
  kx::CopyCut(key, buffer, size);
  return 1;
}
