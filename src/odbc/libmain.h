// Library load and unload, the setup values and the driver's message boxes.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/agent.h"

namespace kx {

// The layers below the core as the driver's entry point wires them, installed
// before DriverAttach. A core without them (no layers installed) finds an
// empty operation table: every connection open then fails cleanly.
struct DriverLayers {
  // At load, before the handle layer: the agent's own preparations.
  void (*load)();
  // Fills a binding: the agent's table as the layers above it wrap it. 0.
  int (*bind)(AgentBinding* binding);
  // At unload, once the idle environments are freed: the layers end what
  // still runs (the XA workers of connections left open) and close what they
  // opened (the XA trace). May be null.
  void (*unload)();
};
void DriverInstallLayers(const DriverLayers& layers);
// Fills a binding through the installed layers: the process-wide one at
// attach, a connection's own at every open. 0.
int DriverBind(AgentBinding* binding);

// Attach: prepares the agent side, the handle layer, the process-wide binding
// and the ODBC trace. 1, or 0 when the library cannot work (every call then
// answers SQL_ERROR). Detach: ends the distributed-transaction enlistments
// still alive (while their connections exist), frees the idle environments,
// lets the layers end what they run and closes the trace. The shared
// library's constructor and destructor call them; tests may call them directly.
int DriverAttach(void* instance);
void DriverDetach();
// Legacy entry points of the same meaning.
int LibMain(void* instance);
int WEP(int);

// The process-wide binding registered at attach.
AgentBinding* ProcessBinding();

// The library's fixed texts by id; "" for an unknown id. The ones the
// driver asks for by name:
constexpr int RES_CAPTION = 1;             // the caption of its messages
constexpr int RES_ODBC_INIT_FAILED = 5;    // the handle tables could not be made
constexpr int RES_LIBRARY_FILE = 203;      // the library's file name
constexpr int RES_DRIVER_DESCRIPTION = 204;  // the driver's description (the build's)
const char* LoadStringResource(int id);

// Reads a setup value from the driver's section of odbcinst.ini: section,
// when it names one (the section the connect string's DRIVER= or the data
// source's Driver= names: a library may be registered under several, each
// with its own values); otherwise, as for a library loaded directly, the
// first section whose Driver is this library, else the one named by the
// driver description. Copies the value, else the default (cut to size - 1
// bytes and terminated), and returns the bytes copied.
int GetSetupValue(const char* section, const char* name, const char* defaultValue, char* buffer,
                  int size);
// The driver's section name in odbcinst.ini (cut and terminated).
void GetSetupSection(char* buffer, int size);

// The quiet-mode window: -2 = never set (messages are shown), 0 (NULL) = show
// nothing, anything else = the owner of the messages. SQL_ATTR_QUIET_MODE sets it.
constexpr intptr_t QUIET_MODE_UNSET = -2;
extern std::atomic<intptr_t> g_quietModeWindow;

// A message "box": one ERROR log line and one line on standard error, never
// blocking. 1 when shown, 0 when quiet mode hides it.
// type: the kind of message (MSG_WARNING), kept for callers that say it.
constexpr int MSG_WARNING = 0x30;
int ShowMessage(const char* text, const char* caption, int type);
int ShowResourceMessage(const char* text, int type);

// Binds the levelled log to the ODBC trace stream when that is open.
void OpenLogSinks();

}  // namespace kx

// The setup exports: the driver description, and the setup key text with the
// description in place of %s. Both cut to size - 1 and terminate; 1.
extern "C" int GetSetupDatabase(char* buffer, int size);
extern "C" int GetSetupRegistry(char* buffer, int size);
