// What the core hands the agent's connect operation: the connect block with
// the server, the login and the connect options of this one connection open.
#pragma once

#include <cstdint>

namespace kx {

// DYN_CURS_SENSITIVITY: how a dynamic cursor sees other transactions'
// changes (HIGH: through row versions), or DISABLED: no dynamic cursors.
constexpr int32_t DCS_LOW = 0;
constexpr int32_t DCS_HIGH = 1;
constexpr int32_t DCS_DISABLED = 2;

// The agent's connect options, filled from the connect string for one
// connection open; DRV_Connect copies them and takes over their two texts
// (it leaves NULL in their place).
struct AgentConnOptions {
  int32_t dynCursSensitivity;  // DCS_*
  int32_t jet;
  int32_t noac;
  int32_t maxRows;
  int32_t nrssl;
  int32_t unused;
  char* initSql;
  int32_t jSstoff;
  int32_t jDcat;
  int32_t jDsch;
  int32_t jNsqi;
  int32_t pnsosc;
  int32_t nssse;
  char* sqlDbmsName;
  int32_t negPrecFix;
};
static_assert(sizeof(AgentConnOptions) == 72, "AgentConnOptions is a 72-byte record");

// The argument of the agent's connect operation. The owned texts are released
// by ConnectBlockFree; the options belong to the caller.
struct ConnectBlock {
  char* host;
  char* options;
  char* serverType;
  char* dbPath;
  char* dataSource;
  char* dbOptions;
  int32_t readOnly;
  char* user;
  char* password;
  uint16_t loginTimeout;  // 99 when a login timeout is set, else 0
  char* afterTimeout;     // the text that follows the login-timeout word
  int32_t reserved;
  int32_t flag;
  char* appName;
  AgentConnOptions* connOptions;  // NULL: every option at its default
};
static_assert(sizeof(ConnectBlock) == 112, "ConnectBlock is a 112-byte record");
ConnectBlock* ConnectBlockFree(ConnectBlock* block);

}  // namespace kx
