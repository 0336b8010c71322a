// Statement options (ODBC 2), statement attributes (ODBC 3) and SQLBindCol.
// Options the agent carries are kept in the statement only once the agent
// took them; an agent that takes another value answers 01S02 and the value it
// took is read back, so later reads agree with the agent.
#include <sqlext.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>

#include "odbc/call_args.h"
#include "odbc/ctypes.h"
#include "odbc/cursor_state.h"
#include "odbc/desc.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "util/errcodes.h"
#include "util/handle_table.h"

namespace kx {

namespace {

// Driver-specific statement options.
constexpr uint16_t SO_READONLY = 1048;               // the agent's read-only value
constexpr uint16_t SO_SERIAL = 1049;                 // the agent's serial value
constexpr uint16_t SO_OPTIMISTIC_MODE = 1050;        // optimistic-concurrency columns
constexpr uint16_t SO_DESCRIBE_BASE_COLUMNS = 1052;  // column information of base columns
constexpr uint16_t SO_ADD_KEY_COLUMNS = 1054;        // ... with the missing key columns

// The driver's own statement options the agent gives a meaning to: numbers
// from the block ODBC leaves to drivers, sent on as they come and kept
// nowhere. SO_DRIVER_TEXT carries a text, the others an integer.
constexpr uint16_t SO_DRIVER_TEXT = 1226;
constexpr uint16_t kPassThroughOptions[] = {1225, SO_DRIVER_TEXT, 1227, 1228, 1229, 1250, 1251,
                                            1260, 1261, 1264, 1265, 1268, 1276, 1277, 1278};

bool IsPassThroughOption(uint16_t option) {
  return std::find(std::begin(kPassThroughOptions), std::end(kPassThroughOptions), option) !=
         std::end(kPassThroughOptions);
}

// Agent properties of the statement options: the option number under the
// integer or text kind of the option class.
constexpr AgentPropertyId StmtOptionInt(uint16_t option) {
  return AgentProperty(AP_LEVEL_STMT, AP_KIND_INT, AP_CLASS_OPTION, option);
}
constexpr AgentPropertyId StmtOptionText(uint16_t option) {
  return AgentProperty(AP_LEVEL_STMT, AP_KIND_TEXT, AP_CLASS_OPTION, option);
}
static_assert(StmtOptionInt(SQL_QUERY_TIMEOUT) == AP_STMT_QUERY_TIMEOUT);
static_assert(StmtOptionInt(SO_SERIAL) == AP_STMT_SERIAL);

// The statement property that carries an option; 0 for options kept locally.
AgentPropertyId OptionProperty(uint16_t option) {
  switch (option) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH:
    case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE: case SQL_ROWSET_SIZE:
    case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA: case SO_READONLY: case SO_SERIAL:
    case SO_OPTIMISTIC_MODE: case SO_DESCRIBE_BASE_COLUMNS: case SO_ADD_KEY_COLUMNS:
      return StmtOptionInt(option);
    case SO_DRIVER_TEXT:
      return StmtOptionText(option);
    default:
      return IsPassThroughOption(option) ? StmtOptionInt(option) : 0;
  }
}

// Sends an option; the statement's error then holds the agent's answer.
int32_t SendOption(StmtRecord* stmt, uint16_t option, int32_t value) {
  int32_t rc = AgentCall(BindingOf(stmt), &AgentOps::DRV_SetProperty, stmt->agentStmt,
                         OptionProperty(option), static_cast<const void*>(&value));
  stmt->error = rc;
  return rc;
}

// Asks the agent for an option's current value.
int32_t AskOption(StmtRecord* stmt, uint16_t option, int32_t* value) {
  *value = 0;
  uint16_t length = 0;
  return AgentCall(BindingOf(stmt), &AgentOps::DRV_GetProperty, stmt->agentStmt,
                   OptionProperty(option), static_cast<void*>(value), static_cast<uint16_t>(4),
                   &length);
}

// The value the statement now holds for an option after an answer 75: while
// the error is 75 the option reads go to the agent.
int64_t StmtOptionReadBack(StmtRecord* stmt, uint16_t option) {
  int64_t value = 0;
  StmtGetOption(stmt, option, &value, true);
  stmt->error = KX_ERR_OPTION_CHANGED;
  return value;
}

void PutInt(void* out, int64_t v, bool as64) {
  if (as64) {
    std::memcpy(out, &v, 8);
  } else {
    const int32_t v32 = static_cast<int32_t>(v);
    std::memcpy(out, &v32, 4);
  }
}

void PutPtr(void* out, const void* p) { std::memcpy(out, &p, sizeof p); }

template <class T>
T* AsPtr(uint64_t v) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(v));
}

}  // namespace

// ---- options --------------------------------------------------------------------------

SQLRETURN StmtSetOption(StmtRecord* stmt, uint16_t option, uint64_t value) {
  int32_t v = static_cast<int32_t>(value);
  SCS_CURSOR& c = stmt->cursor;
  switch (option) {
    case SQL_QUERY_TIMEOUT: {
      if (v < 0) v = 0;
      int32_t rc = SendOption(stmt, option, v);
      if (rc == 0) {
        stmt->queryTimeout = static_cast<uint32_t>(v);
        return SQL_SUCCESS;
      }
      if (rc == KX_ERR_OPTION_CHANGED || rc == KX_ERR_NOT_CAPABLE) {
        stmt->queryTimeout = 0;
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_ERROR;
    }
    case SQL_MAX_ROWS: {
      int32_t rc = SendOption(stmt, option, v);
      if (rc == 0) {
        stmt->maxRows = value;
        return SQL_SUCCESS;
      }
      if (rc == KX_ERR_OPTION_CHANGED) {
        stmt->maxRows = static_cast<uint64_t>(StmtOptionReadBack(stmt, option));
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_ERROR;
    }
    case SQL_NOSCAN: {
      v = value != 0 ? 1 : 0;
      if (SendOption(stmt, option, v) != 0) return SQL_ERROR;
      stmt->noScan = static_cast<uint32_t>(v);
      return SQL_SUCCESS;
    }
    case SQL_MAX_LENGTH: {
      if (stmt->conn == nullptr || !stmt->conn->cn_agentMaxLength) {
        // The agent cannot limit lengths: only "no limit" is taken as asked.
        if (value == 0) return SQL_SUCCESS;
        stmt->maxLength = 0;
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      if (stmt->state == STMT_PREPARED) {
        stmt->error = KX_ERR_INVALID_NOW;
        return SQL_ERROR;
      }
      bool raised = false;
      if (v != 0 && v < 8192) {
        v = 8192;
        raised = true;
      }
      int32_t rc = SendOption(stmt, option, v);
      if (rc == KX_ERR_OPTION_CHANGED) {
        stmt->maxLength = static_cast<uint64_t>(StmtOptionReadBack(stmt, option));
        return SQL_SUCCESS_WITH_INFO;
      }
      if (rc != 0) return SQL_ERROR;
      stmt->maxLength = static_cast<uint32_t>(v);
      if (raised) {
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    }
    case SQL_ASYNC_ENABLE:
      stmt->asyncEnable = value != 0 ? 1 : 0;
      return SQL_SUCCESS;
    case SQL_BIND_TYPE:
      stmt->bindType = v;
      return SQL_SUCCESS;
    case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE: case SQL_SIMULATE_CURSOR: {
      int32_t* field = option == SQL_CURSOR_TYPE   ? &c.cursorType
                       : option == SQL_CONCURRENCY ? &c.concurrency
                       : option == SQL_KEYSET_SIZE ? &c.keysetSize
                                                   : &c.simulateCursor;
      int32_t rc = SendOption(stmt, option, v);
      if (rc == 0) {
        *field = v;
        if (option == SQL_CURSOR_TYPE) c.requestedCursorType = v;
        if (option == SQL_CONCURRENCY) c.requestedConcurrency = v;
        return SQL_SUCCESS;
      }
      if (rc == KX_ERR_OPTION_CHANGED) {
        *field = static_cast<int32_t>(StmtOptionReadBack(stmt, option));
        if (option == SQL_CURSOR_TYPE) c.requestedCursorType = *field;
        if (option == SQL_CONCURRENCY) c.requestedConcurrency = *field;
        return SQL_SUCCESS_WITH_INFO;
      }
      // A value the driver has no cursor for (HYC00) is not an unknown option.
      stmt->error = rc == KX_ERR_NOT_CAPABLE ? KX_ERR_NOT_CAPABLE : KX_ERR_BAD_OPTION;
      return SQL_ERROR;
    }
    case SQL_ROWSET_SIZE: {
      if (v == 0) v = 1;
      if (c.cursorType == SQL_CURSOR_FORWARD_ONLY && stmt->state == STMT_PREPARED &&
          c.rowsetSize == 1 && stmt->currentRow != 0 && stmt->currentRow < stmt->rows.rowCount) {
        // Rows of the current block are still being handed out one by one.
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      int32_t rc = SendOption(stmt, option, v);
      // The size of the rowset in hand stays known until the next fetch,
      // however often the size changes before it: a relative fetch moves
      // from that rowset, and SQLSetPos works on it.
      if (rc == 0 || rc == KX_ERR_OPTION_CHANGED) {
        if ((c.flags & SCS_FLAG_ROWSET_CHANGED) == 0) c.prevRowsetSize = c.rowsetSize;
      }
      if (rc == 0) {
        c.rowsetSize = v;
        c.flags |= SCS_FLAG_ROWSET_CHANGED;
        return SQL_SUCCESS;
      }
      if (rc == KX_ERR_OPTION_CHANGED) {
        const int32_t taken = static_cast<int32_t>(StmtOptionReadBack(stmt, option));
        c.rowsetSize = taken;
        c.flags |= SCS_FLAG_ROWSET_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_ERROR;
    }
    case SQL_RETRIEVE_DATA: {
      if (SendOption(stmt, option, v) == 0) {
        c.retrieveData = v;
        return SQL_SUCCESS;
      }
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
    }
    case SQL_USE_BOOKMARKS:
      c.useBookmarks = v != 0 ? 1 : 0;
      return SQL_SUCCESS;
    case SO_OPTIMISTIC_MODE: {
      int32_t rc = SendOption(stmt, option, v);
      if (rc == 0) {
        c.optimisticMode = v;
        return SQL_SUCCESS;
      }
      if (rc == KX_ERR_OPTION_CHANGED) return SQL_SUCCESS_WITH_INFO;
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
    }
    case SO_DESCRIBE_BASE_COLUMNS: case SO_ADD_KEY_COLUMNS: {
      if (SendOption(stmt, option, v) != 0) return SQL_ERROR;
      (option == SO_DESCRIBE_BASE_COLUMNS ? c.describeBaseColumns : c.addMissingKeyColumns) = v;
      return SQL_SUCCESS;
    }
    default:
      if (IsPassThroughOption(option)) {
        int32_t rc = SendOption(stmt, option, v);
        if (rc == 0) return SQL_SUCCESS;
        if (rc == KX_ERR_NOT_CAPABLE) stmt->error = KX_ERR_BAD_OPTION;
        return SQL_ERROR;
      }
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
  }
}

SQLRETURN StmtGetOption(StmtRecord* stmt, uint16_t option, void* out, bool all64) {
  if (out == nullptr) return SQL_SUCCESS;
  SCS_CURSOR& c = stmt->cursor;
  const bool changed = stmt->error == KX_ERR_OPTION_CHANGED;
  // Reads an option from the agent; a refusal is S1092.
  auto fromAgent = [&](bool as64) -> SQLRETURN {
    int32_t v = 0;
    if (AskOption(stmt, option, &v) != 0) {
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
    }
    PutInt(out, v, as64 || all64);
    return SQL_SUCCESS;
  };
  switch (option) {
    case SQL_QUERY_TIMEOUT: PutInt(out, stmt->queryTimeout, all64); return SQL_SUCCESS;
    case SQL_MAX_ROWS: return fromAgent(true);
    case SQL_NOSCAN: return fromAgent(false);
    case SQL_MAX_LENGTH:
      if (changed) return fromAgent(true);
      PutInt(out, static_cast<int64_t>(stmt->maxLength), true);
      return SQL_SUCCESS;
    case SQL_ASYNC_ENABLE: PutInt(out, stmt->asyncEnable != 0 ? 1 : 0, all64); return SQL_SUCCESS;
    case SQL_BIND_TYPE: PutInt(out, static_cast<uint32_t>(stmt->bindType), all64); return SQL_SUCCESS;
    case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_SIMULATE_CURSOR:
    case SQL_ROWSET_SIZE: {
      // The rowset size is an SQLULEN even for SQLGetStmtOption on 64-bit.
      const bool as64 = option == SQL_ROWSET_SIZE;
      if (changed) return fromAgent(as64);
      const int32_t v = option == SQL_CURSOR_TYPE   ? c.cursorType
                        : option == SQL_CONCURRENCY ? c.concurrency
                        : option == SQL_ROWSET_SIZE ? c.rowsetSize
                                                    : c.simulateCursor;
      PutInt(out, v, as64 || all64);
      return SQL_SUCCESS;
    }
    case SQL_KEYSET_SIZE:
      if (changed) return fromAgent(true);
      PutInt(out, c.keysetSize, true);
      return SQL_SUCCESS;
    case SQL_RETRIEVE_DATA: PutInt(out, c.retrieveData, all64); return SQL_SUCCESS;
    case SQL_USE_BOOKMARKS: PutInt(out, c.useBookmarks, all64); return SQL_SUCCESS;
    case SQL_GET_BOOKMARK: {
      if (stmt->state != STMT_PREPARED) {
        stmt->error = KX_ERR_CURSOR_STATE;
        return SQL_ERROR;
      }
      if (!c.useBookmarks) {
        stmt->error = KX_ERR_INVALID_NOW;
        return SQL_ERROR;
      }
      int32_t row = 0;
      int rc = SCS_GetRowNumberChecked(&c, static_cast<uint32_t>(c.setPosRow - 1), &row);
      if (rc != 0) {
        stmt->error = rc;
        return SQL_ERROR;
      }
      PutInt(out, row, all64);
      return SQL_SUCCESS;
    }
    case SQL_ROW_NUMBER: {
      if (stmt->state != STMT_PREPARED) {
        stmt->error = KX_ERR_CURSOR_STATE;
        return SQL_ERROR;
      }
      if (c.cursorType == SQL_CURSOR_FORWARD_ONLY) {
        PutInt(out, static_cast<int64_t>(stmt->rowNumber), true);
        return SQL_SUCCESS;
      }
      int32_t row = 0;
      int rc = SCS_GetRowNumber(&c, static_cast<uint32_t>(c.setPosRow - 1), &row);
      if (rc != 0) {
        stmt->error = rc;
        return SQL_ERROR;
      }
      PutInt(out, row, true);
      return SQL_SUCCESS;
    }
    case SO_READONLY: case SO_SERIAL: return fromAgent(false);
    case SO_OPTIMISTIC_MODE: PutInt(out, c.optimisticMode, false); return SQL_SUCCESS;
    case SO_DESCRIBE_BASE_COLUMNS: PutInt(out, c.describeBaseColumns, false); return SQL_SUCCESS;
    case SO_ADD_KEY_COLUMNS: PutInt(out, c.addMissingKeyColumns, false); return SQL_SUCCESS;
    default:
      if (IsPassThroughOption(option)) {
        int32_t v = 0;
        int32_t rc = AskOption(stmt, option, &v);
        if (rc != 0) {
          stmt->error = rc == KX_ERR_NOT_SUPPORTED ? KX_ERR_BAD_OPTION : rc;
          return SQL_ERROR;
        }
        PutInt(out, v, false);
        return SQL_SUCCESS;
      }
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
  }
}

// ---- attributes -------------------------------------------------------------------------

namespace {

SQLRETURN SetHeader(StmtRecord* stmt, DescRecord* desc, int16_t field, uint64_t value, char form) {
  if (desc == nullptr) {
    stmt->error = KX_ERR_GENERAL;
    return SQL_ERROR;
  }
  SQLRETURN rc = DescSetField(desc, 0, field, value, 0, form);
  if (rc == SQL_ERROR && stmt->error == 0) stmt->error = desc->error;
  return rc;
}

// Installs an application descriptor (or, for 0, the statement's own again).
SQLRETURN InstallAppDesc(StmtRecord* stmt, uint64_t value, bool rowDesc) {
  DescRecord* implicitDesc = rowDesc ? stmt->implicitArd : stmt->implicitApd;
  DescRecord*& current = rowDesc ? stmt->currentArd : stmt->currentApd;
  DescRecord* desc = implicitDesc;
  if (value != 0) {
    desc = static_cast<DescRecord*>(HT_Lookup(DescTable(), static_cast<uint32_t>(value)));
    if (desc == nullptr || desc->magic != DESC_MAGIC) {
      stmt->error = KX_ERR_BAD_ATTRIBUTE_VALUE;
      return SQL_ERROR;
    }
    if (desc->allocType == SQL_DESC_ALLOC_AUTO && desc != implicitDesc) {
      stmt->error = KX_ERR_AUTO_DESCRIPTOR;
      return SQL_ERROR;
    }
    if (desc->allocType == SQL_DESC_ALLOC_USER && desc->conn != stmt->conn) {
      stmt->error = KX_ERR_BAD_ATTRIBUTE_VALUE;
      return SQL_ERROR;
    }
  }
  if (desc == current) return SQL_SUCCESS;
  // The bindings of the descriptor in use go with it: fetch and execute must
  // not keep using its buffers once another descriptor is current.
  if (rowDesc) {
    StmtDropColBindingNodes(stmt);
  } else {
    StmtFreeParamBindings(stmt);
  }
  current = desc;
  int rc = rowDesc ? StmtApplyARD(stmt, desc) : StmtApplyAPD(stmt, desc);
  if (rc != 0) {
    stmt->error = rc;
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

// What the cursor sees of changes others make to its rows. Keyset-driven,
// mixed and dynamic cursors read each row afresh when they fetch it. A static
// cursor keeps the rows it read: insensitive while read-only; one that can
// change rows shows its own changes, so it is neither. A forward-only cursor
// reads the database's result as it streams, and that depends on the
// database.
uint32_t CursorSensitivity(const SCS_CURSOR& c) {
  switch (c.cursorType) {
    case SQL_CURSOR_KEYSET_DRIVEN: case SQL_CURSOR_DYNAMIC:
      return SQL_SENSITIVE;
    case SQL_CURSOR_STATIC:
      return c.concurrency == SQL_CONCUR_READ_ONLY ? SQL_INSENSITIVE : SQL_UNSPECIFIED;
    default:
      return SQL_UNSPECIFIED;
  }
}

// Cursor sensitivity and scrollability are asked for through the cursor type
// and concurrency options.
SQLRETURN SetSensitivity(StmtRecord* stmt, uint64_t value) {
  SCS_CURSOR& c = stmt->cursor;
  switch (value) {
    case SQL_INSENSITIVE: {
      SQLRETURN rc = StmtSetOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
      if (rc != SQL_SUCCESS) return rc;
      rc = StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
      if (rc != SQL_SUCCESS_WITH_INFO) return rc;
      stmt->error = 0;
      return SQL_SUCCESS;
    }
    case SQL_SENSITIVE: {
      if (c.concurrency == SQL_CONCUR_READ_ONLY) {
        SQLRETURN rc = StmtSetOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_VALUES);
        if (rc != SQL_SUCCESS_WITH_INFO && rc != SQL_SUCCESS) return rc;
      }
      // A cursor that stayed read-only, or whose type sees no changes, is
      // not sensitive: the value reads back as what the cursor is.
      if (c.concurrency == SQL_CONCUR_READ_ONLY || CursorSensitivity(c) != SQL_SENSITIVE) {
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      stmt->error = 0;
      return SQL_SUCCESS;
    }
    case SQL_UNSPECIFIED:
      return SQL_SUCCESS;
    default:
      stmt->error = KX_ERR_BAD_ATTRIBUTE_VALUE;
      return SQL_ERROR;
  }
}

SQLRETURN SetScrollable(StmtRecord* stmt, uint64_t value) {
  SCS_CURSOR& c = stmt->cursor;
  if (value == SQL_NONSCROLLABLE) return StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
  if (value != SQL_SCROLLABLE) return SQL_SUCCESS;
  if (c.cursorType == SQL_CURSOR_FORWARD_ONLY) {
    SQLRETURN rc = StmtSetOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    if (rc != SQL_SUCCESS_WITH_INFO && rc != SQL_SUCCESS) return rc;
  }
  if (c.cursorType == SQL_CURSOR_FORWARD_ONLY) {
    stmt->error = KX_ERR_OPTION_CHANGED;
    return SQL_SUCCESS_WITH_INFO;
  }
  stmt->error = 0;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN StmtSetAttr(StmtRecord* stmt, int32_t attribute, uint64_t value, int32_t, char form) {
  switch (attribute) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH:
    case SQL_ASYNC_ENABLE: case SQL_CURSOR_TYPE: case SQL_CONCURRENCY: case SQL_KEYSET_SIZE:
    case SQL_ROWSET_SIZE: case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA: case SQL_USE_BOOKMARKS:
    case SQL_ROW_NUMBER: case SO_OPTIMISTIC_MODE: case SO_DESCRIBE_BASE_COLUMNS: case SO_ADD_KEY_COLUMNS:
      return StmtSetOption(stmt, static_cast<uint16_t>(attribute), value);
    case SQL_ATTR_ROW_BIND_TYPE:
      return SetHeader(stmt, stmt->currentArd, SQL_DESC_BIND_TYPE, value, form);
    case SQL_ATTR_ENABLE_AUTO_IPD:
      if (value != 0) {
        stmt->error = KX_ERR_OPTION_CHANGED;
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
      stmt->fetchBookmarkPtr = static_cast<int64_t>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      return SetHeader(stmt, stmt->currentApd, SQL_DESC_BIND_OFFSET_PTR, value, form);
    case SQL_ATTR_PARAM_BIND_TYPE:
      return SetHeader(stmt, stmt->currentApd, SQL_DESC_BIND_TYPE, value, form);
    case SQL_ATTR_PARAM_OPERATION_PTR:
      return SetHeader(stmt, stmt->currentApd, SQL_DESC_ARRAY_STATUS_PTR, value, form);
    case SQL_ATTR_PARAM_STATUS_PTR:
      // NULL included: the application stops the status array this way.
      if (stmt->ipd != nullptr) stmt->ipd->arrayStatusPtr = AsPtr<uint16_t>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: {
      if (stmt->ipd != nullptr) stmt->ipd->rowsProcessedPtr = AsPtr<uint64_t>(value);
      const uint64_t rows = stmt->currentApd != nullptr ? stmt->currentApd->arraySize : 1;
      int rc = StmtParamOptions(stmt, rows, AsPtr<uint64_t>(value));
      if (rc != 0) {
        stmt->error = rc;
        return SQL_ERROR;
      }
      stmt->rowsProcessedPtr = AsPtr<uint64_t>(value);
      return SQL_SUCCESS;
    }
    case SQL_ATTR_PARAMSET_SIZE:
      return SetHeader(stmt, stmt->currentApd, SQL_DESC_ARRAY_SIZE, value, form);
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      return SetHeader(stmt, stmt->currentArd, SQL_DESC_BIND_OFFSET_PTR, value, form);
    case SQL_ATTR_ROW_OPERATION_PTR:
      return SetHeader(stmt, stmt->currentArd, SQL_DESC_ARRAY_STATUS_PTR, value, form);
    case SQL_ATTR_ROW_STATUS_PTR:
      if (stmt->ird != nullptr) stmt->ird->arrayStatusPtr = AsPtr<uint16_t>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR:
      stmt->rowsFetchedPtr = AsPtr<uint64_t>(value);
      if (stmt->ird != nullptr) stmt->ird->rowsProcessedPtr = AsPtr<uint64_t>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE:
      return SetHeader(stmt, stmt->currentArd, SQL_DESC_ARRAY_SIZE, value, form);
    case SQL_ATTR_CURSOR_SENSITIVITY:
      return SetSensitivity(stmt, value);
    case SQL_ATTR_CURSOR_SCROLLABLE:
      return SetScrollable(stmt, value);
    case SQL_ATTR_APP_ROW_DESC:
      return InstallAppDesc(stmt, value, true);
    case SQL_ATTR_APP_PARAM_DESC:
      return InstallAppDesc(stmt, value, false);
    case SQL_ATTR_METADATA_ID:
      // Catalog arguments are always taken as text and patterns (FALSE);
      // reading them as identifiers is not offered.
      if (value == SQL_FALSE) return SQL_SUCCESS;
      stmt->error = value == SQL_TRUE ? KX_ERR_NOT_CAPABLE : KX_ERR_BAD_ATTRIBUTE_VALUE;
      return SQL_ERROR;
    default:
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
  }
}

SQLRETURN StmtGetAttr(StmtRecord* stmt, int32_t attribute, void* value, int32_t bufferLength,
                      int32_t* length) {
  if (value == nullptr) return SQL_SUCCESS;
  (void)bufferLength;
  switch (attribute) {
    case SQL_QUERY_TIMEOUT: case SQL_MAX_ROWS: case SQL_NOSCAN: case SQL_MAX_LENGTH:
    case SQL_ASYNC_ENABLE: case SQL_BIND_TYPE: case SQL_CURSOR_TYPE: case SQL_CONCURRENCY:
    case SQL_KEYSET_SIZE: case SQL_ROWSET_SIZE: case SQL_SIMULATE_CURSOR: case SQL_RETRIEVE_DATA:
    case SQL_USE_BOOKMARKS: case SQL_GET_BOOKMARK: case SQL_ROW_NUMBER:
      // The ODBC 3 attributes behind these options are SQLULEN.
      return StmtGetOption(stmt, static_cast<uint16_t>(attribute), value, true);
    case SO_READONLY: case SO_SERIAL: case SO_OPTIMISTIC_MODE: case SO_DESCRIBE_BASE_COLUMNS:
    case SO_ADD_KEY_COLUMNS:
      return StmtGetOption(stmt, static_cast<uint16_t>(attribute), value, false);
    case SQL_ATTR_ENABLE_AUTO_IPD: PutInt(value, 0, false); return SQL_SUCCESS;
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
      PutInt(value, stmt->fetchBookmarkPtr, true);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      PutPtr(value, stmt->currentApd != nullptr ? stmt->currentApd->bindOffsetPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE:
      PutInt(value, stmt->currentApd != nullptr ? static_cast<uint32_t>(stmt->currentApd->bindType) : 0,
             true);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_OPERATION_PTR:
      PutPtr(value, stmt->currentApd != nullptr ? stmt->currentApd->arrayStatusPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR:
      PutPtr(value, stmt->ipd != nullptr ? stmt->ipd->arrayStatusPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: PutPtr(value, stmt->rowsProcessedPtr); return SQL_SUCCESS;
    case SQL_ATTR_PARAMSET_SIZE:
      PutInt(value, static_cast<int64_t>(stmt->paramsetSize), true);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      PutPtr(value, stmt->currentArd != nullptr ? stmt->currentArd->bindOffsetPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_OPERATION_PTR:
      PutPtr(value, stmt->currentArd != nullptr ? stmt->currentArd->arrayStatusPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR:
      PutPtr(value, stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr);
      return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR: PutPtr(value, stmt->rowsFetchedPtr); return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE: PutInt(value, stmt->cursor.rowsetSize, true); return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SENSITIVITY:
      PutInt(value, CursorSensitivity(stmt->cursor), false);
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SCROLLABLE: {
      const int32_t t = stmt->cursor.cursorType;
      const bool scrollable = t == SQL_CURSOR_KEYSET_DRIVEN || t == SQL_CURSOR_DYNAMIC ||
                              t == SQL_CURSOR_STATIC;
      PutInt(value, scrollable ? SQL_SCROLLABLE : SQL_NONSCROLLABLE, false);
      return SQL_SUCCESS;
    }
    case SQL_ATTR_APP_ROW_DESC: case SQL_ATTR_APP_PARAM_DESC: case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC: {
      DescRecord* d = attribute == SQL_ATTR_APP_ROW_DESC     ? stmt->currentArd
                      : attribute == SQL_ATTR_APP_PARAM_DESC ? stmt->currentApd
                      : attribute == SQL_ATTR_IMP_ROW_DESC   ? stmt->ird
                                                             : stmt->ipd;
      PutInt(value, d != nullptr ? d->handle : 0, true);
      if (length != nullptr) *length = SQL_IS_POINTER;
      return SQL_SUCCESS;
    }
    case SQL_ATTR_METADATA_ID: PutInt(value, SQL_FALSE, false); return SQL_SUCCESS;
    default:
      stmt->error = KX_ERR_BAD_OPTION;
      return SQL_ERROR;
  }
}

// ---- SQLBindCol ------------------------------------------------------------------------

int StmtBindColEx(StmtRecord* stmt, uint16_t column, int16_t cType, void* target,
                  int64_t bufferLength, int64_t* octetLength, int64_t* indicator) {
  stmt->error = 0;
  int code = 0;
  if (target != nullptr && !IsApplicationCType(cType)) {
    code = KX_ERR_BAD_PROGRAM_TYPE;
  } else if (bufferLength < 0) {
    code = KX_ERR_BAD_LENGTH;
  } else if (column != 0 && bufferLength == 0 && cType != SQL_C_DEFAULT) {
    bufferLength = CTypeSize(cType);
  }
  if (code == 0 && column == 0 && target != nullptr) {
    // The bookmark column: only where the cursor keeps bookmarks, and only as
    // an 8-byte value.
    int32_t persistence = 0;
    int rc;
    {
      std::lock_guard<std::recursive_mutex> lock(ConnectLock());
      rc = SCS_GetInfoType(stmt->cursor.binding, stmt->cursor.agentConn, SQL_BOOKMARK_PERSISTENCE,
                           &persistence, 4, nullptr);
    }
    if (rc != 0) {
      code = rc;
    } else if (persistence == 0) {
      code = KX_ERR_NOT_CAPABLE;
    } else if (cType != SQL_C_BINARY && cType != SQL_C_UBIGINT) {
      code = KX_ERR_BAD_PROGRAM_TYPE;
    } else if (cType == SQL_C_BINARY && bufferLength > 0 && bufferLength < KX_BOOKMARK_BYTES) {
      // Every bookmark takes 8 bytes: a shorter element would be overrun.
      code = KX_ERR_BAD_LENGTH;
    }
    // A variable-length bookmark keeps its element size (the stride of a
    // column-wise array); a fixed one is 8 bytes.
    if (cType != SQL_C_BINARY || bufferLength == 0) bufferLength = KX_BOOKMARK_BYTES;
  }
  if (code != 0) {
    stmt->error = code;
    return code;
  }
  ColBindingNode node{};
  node.binding.column = column;
  node.binding.cType = cType;
  node.binding.target = target;
  node.binding.bufferLength = bufferLength;
  node.binding.octetLength = octetLength;
  node.binding.indicator = indicator;
  if (target != nullptr) {
    if (ColBindingSet(stmt, &node) != 0) return stmt->error;
  } else {
    ColBindingRemove(stmt, &node);
  }
  DescRecord* ard = stmt->currentArd;
  if (ard != nullptr) {
    if (ard->count < static_cast<int32_t>(column)) {
      int rc = DescGrowRecs(ard, static_cast<int16_t>(column));
      if (rc != 0) {
        stmt->error = rc;
        return rc;
      }
    }
    DescFieldRec* rec = DescGetRec(ard, column);
    if (rec != nullptr) {
      rec->conciseType = cType;
      // The record keeps the buffer length too, so that the binding can be
      // applied again from the descriptor (after a user ARD is released).
      if (target != nullptr) rec->octetLength = static_cast<int32_t>(std::min<int64_t>(bufferLength, INT32_MAX));
      rec->dataPtr = target;
      rec->octetLengthPtr = octetLength;
      rec->indicatorPtr = indicator;
    }
  }
  return 0;
}

int StmtBindCol(StmtRecord* stmt, uint16_t column, int16_t cType, void* target, int64_t bufferLength,
                int64_t* lengthOrIndicator) {
  return StmtBindColEx(stmt, column, cType, target, bufferLength, lengthOrIndicator,
                       lengthOrIndicator);
}

// ---- handlers -----------------------------------------------------------------------------

SQLRETURN StmtSetOptionCall(HandleHead* rec, const OdbcArgs& args) {
  return StmtSetOption(static_cast<StmtRecord*>(rec), args.Get<uint16_t>(0), args.Get<uint64_t>(1));
}

SQLRETURN StmtGetOptionCall(HandleHead* rec, const OdbcArgs& args) {
  return StmtGetOption(static_cast<StmtRecord*>(rec), args.Get<uint16_t>(0), args.Get<void*>(1));
}

SQLRETURN StmtSetAttrCall(HandleHead* rec, const OdbcArgs& args) {
  return StmtSetAttr(static_cast<StmtRecord*>(rec), args.Get<int32_t>(0), args.Get<uint64_t>(1),
                     args.Get<int32_t>(2), args.Count() > 3 ? args.Get<char>(3) : 'A');
}

SQLRETURN StmtGetAttrCall(HandleHead* rec, const OdbcArgs& args) {
  return StmtGetAttr(static_cast<StmtRecord*>(rec), args.Get<int32_t>(0), args.Get<void*>(1),
                     args.Get<int32_t>(2), args.Get<int32_t*>(3));
}

SQLRETURN StmtBindColCall(HandleHead* rec, const OdbcArgs& args) {
  auto* stmt = static_cast<StmtRecord*>(rec);
  int code = StmtBindCol(stmt, args.Get<uint16_t>(0), args.Get<int16_t>(1), args.Get<void*>(2),
                         args.Get<int64_t>(3), args.Get<int64_t*>(4));
  if (code != 0) {
    stmt->error = code;
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

}  // namespace kx
