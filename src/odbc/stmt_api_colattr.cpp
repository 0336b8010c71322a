// SQLColAttributes (the ODBC 2 SQL_COLUMN_* identifiers) and SQLColAttribute
// (ODBC 3). The ODBC 2 answers come from the column description; the ODBC 3
// descriptor fields are read from the statement's IRD, so that a field
// answers the same through SQLColAttribute and SQLGetDescField.
#include <sqlext.h>

#include <cstring>

#include "agent/agent.h"
#include "odbc/copy_out.h"
#include "odbc/desc.h"
#include "odbc/handlers.h"
#include "odbc/stmt.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/value_rec.h"

namespace kx {

namespace {

int16_t ClampLength(int64_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Text into the caller's buffer, 8-bit ('A') or UTF-16 ('W', lengths in
// bytes): cut with 01004, the whole length reported, a NULL buffer reports
// the length only.
SQLRETURN PutText(StmtRecord* stmt, const char* text, void* charAttr, int16_t bufferLength,
                  int16_t* stringLength, char form) {
  if (text == nullptr) text = "";
  const uint64_t n = std::strlen(text);
  int64_t full = 0;
  int32_t err = 0;
  const int16_t rc =
      form == 'W'
          ? CopyOutNarrowToWide(text, n, static_cast<int64_t>(n), 0, 1, 1, charAttr, bufferLength,
                                &full, &err)
          : CopyOutNarrow(text, n, static_cast<int64_t>(n), 0, 1, 1, charAttr, bufferLength, &full,
                          &err);
  if (rc == SQL_ERROR) {
    stmt->error = err != 0 ? err : KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  if (stringLength != nullptr) *stringLength = ClampLength(full);
  if (rc == SQL_SUCCESS_WITH_INFO) stmt->error = err != 0 ? err : KX_ERR_DATA_TRUNCATED;
  return rc;
}

SQLRETURN PutNumber(int64_t* numericAttr, int64_t v) {
  if (numericAttr != nullptr) *numericAttr = v;
  return SQL_SUCCESS;
}

// An attribute the agent delivered with the extended describe.
bool Extended(StmtRecord* stmt, uint16_t id, uint16_t column, int32_t* value) {
  if (stmt->conn == nullptr || !stmt->conn->cn_extDescribe || stmt->colAttrs == nullptr) {
    return false;
  }
  return VAL_Get(stmt->colAttrs, id, column, value, nullptr, nullptr) != 0;
}

int64_t Size(int32_t v) { return static_cast<int64_t>(static_cast<uint32_t>(v)); }

// SQL_COLUMN_LENGTH: the bytes a value takes in its default C type.
int64_t ColumnLength(int16_t type, int32_t columnSize) {
  switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return Size(columnSize);
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
      return 2 * Size(columnSize);
    case SQL_NUMERIC: case SQL_DECIMAL:
      return Size(columnSize) + 2;
    case SQL_INTEGER: case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_FLOAT: case SQL_DOUBLE: return 8;
    case SQL_DATE: case SQL_TIME: case SQL_TYPE_DATE: case SQL_TYPE_TIME: return 6;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: case SQL_GUID: return 16;
    case SQL_BIT: case SQL_TINYINT: return 1;
    case SQL_BIGINT: return 20;
    default:
      return (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND) ? 28 : SQL_NO_TOTAL;
  }
}

int32_t SearchableByType(int16_t type) {
  switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: return SQL_SEARCHABLE;
    case SQL_LONGVARCHAR: case SQL_WLONGVARCHAR: return SQL_LIKE_ONLY;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return SQL_UNSEARCHABLE;
    default: return SQL_ALL_EXCEPT_LIKE;
  }
}

const char* OrEmpty(const char* s) { return s != nullptr ? s : ""; }

// The identifiers SQLColAttribute answers, and which of them are text.
bool IsTextField(uint16_t field) {
  switch (field) {
    case SQL_COLUMN_NAME: case SQL_DESC_TYPE_NAME: case SQL_DESC_TABLE_NAME: case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: case SQL_DESC_LABEL: case SQL_DESC_BASE_COLUMN_NAME: case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX: case SQL_DESC_LOCAL_TYPE_NAME: case SQL_DESC_NAME:
      return true;
    default:
      return false;
  }
}

bool IsKnownField(uint16_t field) {
  // The ODBC 2 column attributes, SQL_COLUMN_COUNT to SQL_COLUMN_LABEL.
  if (field <= SQL_COLUMN_LABEL) return true;
  switch (field) {
    case SQL_DESC_BASE_COLUMN_NAME: case SQL_DESC_BASE_TABLE_NAME: case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: case SQL_DESC_LOCAL_TYPE_NAME: case SQL_DESC_NUM_PREC_RADIX: case SQL_DESC_ROWVER:
    case SQL_DESC_COUNT: case SQL_DESC_TYPE: case SQL_DESC_LENGTH: case SQL_DESC_PRECISION:
    case SQL_DESC_SCALE: case SQL_DESC_NULLABLE: case SQL_DESC_NAME: case SQL_DESC_UNNAMED:
    case SQL_DESC_OCTET_LENGTH: case COLATTR_KEY_COLUMN:
      return true;
    default:
      return false;
  }
}

SQLRETURN UnknownField(StmtRecord* stmt) {
  if (TraceOn()) TracePrintf("SQLColAttribute - unknown field identifier\n");
  stmt->error = KX_ERR_BAD_DESCRIPTOR_TYPE;
  return SQL_ERROR;
}

// Reads one field of the IRD record of a column through the descriptor
// engine. Text goes to the caller's buffer as the engine writes it; numbers
// arrive in the width the engine gives the field and are widened with their
// sign. The engine's failure code moves to the statement.
SQLRETURN IrdRead(StmtRecord* stmt, uint16_t column, uint16_t field, void* charAttr,
                  int16_t bufferLength, int16_t* stringLength, int64_t* numericAttr, char form) {
  DescRecord* ird = stmt->ird;
  if (ird == nullptr) {
    stmt->error = KX_ERR_GENERAL;
    return SQL_ERROR;
  }
  const bool text = IsTextField(field);
  if (!text && numericAttr == nullptr) return SQL_SUCCESS;
  int64_t number = 0;  // room for the widest field
  int64_t length = 0;
  ird->error = 0;
  SQLRETURN rc = text ? DescGetField(ird, static_cast<int16_t>(column), static_cast<int16_t>(field),
                                     charAttr, bufferLength, &length, form)
                      : DescGetField(ird, static_cast<int16_t>(column), static_cast<int16_t>(field),
                                     &number, sizeof number, &length, form);
  if (rc == SQL_NO_DATA) {
    // A parameter image past the result columns is no column of the result.
    stmt->error = KX_ERR_BAD_COLUMN_NUMBER;
    return SQL_ERROR;
  }
  if (ird->error != 0) {
    stmt->error = ird->error;
    ird->error = 0;
  }
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
    if (stmt->error == 0) stmt->error = KX_ERR_GENERAL;
    return SQL_ERROR;
  }
  if (text) {
    if (stringLength != nullptr) *stringLength = ClampLength(length);
    return rc;
  }
  if (length == 2) {
    int16_t v = 0;
    std::memcpy(&v, &number, 2);
    *numericAttr = v;
  } else if (length == 4) {
    int32_t v = 0;
    std::memcpy(&v, &number, 4);
    *numericAttr = v;
  } else {
    *numericAttr = number;
  }
  return rc;
}

// SQLColAttribute on the bookmark column (column 0 with bookmarks on).
SQLRETURN BookmarkAttribute(StmtRecord* stmt, uint16_t field, void* charAttr, int16_t bufferLength,
                            int16_t* stringLength, int64_t* numericAttr, char form) {
  switch (field) {
    case SQL_DESC_COUNT:
    case SQL_DESC_CONCISE_TYPE: case SQL_DESC_DISPLAY_SIZE: case SQL_DESC_UNSIGNED: case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_UPDATABLE: case SQL_DESC_AUTO_UNIQUE_VALUE: case SQL_DESC_CASE_SENSITIVE: case SQL_DESC_SEARCHABLE:
    case SQL_DESC_ROWVER: case COLATTR_KEY_COLUMN:
    case SQL_DESC_NUM_PREC_RADIX: case SQL_DESC_LENGTH: case SQL_DESC_PRECISION: case SQL_DESC_SCALE:
    case SQL_DESC_UNNAMED: case SQL_DESC_NULLABLE:
      return PutNumber(numericAttr, 0);
    case SQL_DESC_OCTET_LENGTH:
      return PutNumber(numericAttr, 8);
    case SQL_DESC_TYPE:
      return PutNumber(numericAttr, SQL_CHAR);
    case SQL_DESC_NAME:
    case SQL_DESC_TYPE_NAME: case SQL_DESC_TABLE_NAME: case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: case SQL_DESC_LABEL: case SQL_DESC_BASE_COLUMN_NAME: case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX: case SQL_DESC_LOCAL_TYPE_NAME:
      if (bufferLength < 0) {
        stmt->error = KX_ERR_BAD_LENGTH;
        return SQL_ERROR;
      }
      return PutText(stmt, "", charAttr, bufferLength, stringLength, form);
    default:  // 0, 1, 3, 4, 5, 7: the ODBC 2 identifiers have no bookmark answer
      return UnknownField(stmt);
  }
}

}  // namespace

SQLRETURN StmtColAttributes(StmtRecord* stmt, uint16_t column, uint16_t field, void* charAttr,
                            int16_t bufferLength, int16_t* stringLength, int64_t* numericAttr,
                            char form) {
  if (stmt->state != STMT_PREPARED) {
    stmt->error = KX_ERR_SEQUENCE;
    return SQL_ERROR;
  }
  // The buffer length only counts for text answers: a numeric field ignores
  // it (applications pass SQL_IS_INTEGER and the like there).
  if (bufferLength < 0 && IsTextField(field)) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  if (field == SQL_COLUMN_COUNT) {
    if (StmtDescribeCols(stmt) == nullptr && stmt->error != 0) return SQL_ERROR;
    return PutNumber(numericAttr, stmt->colCount);
  }
  const AgentColDesc* cd = StmtGetColDesc(stmt, column);
  if (cd == nullptr) {
    if (stmt->error == 0) stmt->error = KX_ERR_BAD_COLUMN_NUMBER;
    return SQL_ERROR;
  }
  if (numericAttr == nullptr && field < 14 && field != SQL_COLUMN_NAME) return SQL_SUCCESS;
  const auto type = static_cast<int16_t>(cd->sqlType & 0xFFFF);
  int32_t ext = 0;
  switch (field) {
    case SQL_COLUMN_NAME:
    case SQL_COLUMN_LABEL: {
      const char* label = (cd->label != nullptr && cd->label[0] != '\0') ? cd->label : cd->name;
      return PutText(stmt, label, charAttr, bufferLength, stringLength, form);
    }
    case SQL_COLUMN_TYPE: return PutNumber(numericAttr, type);
    case SQL_COLUMN_LENGTH: return PutNumber(numericAttr, ColumnLength(type, cd->columnSize));
    case SQL_COLUMN_PRECISION: return PutNumber(numericAttr, Size(cd->columnSize));
    case SQL_COLUMN_SCALE: return PutNumber(numericAttr, cd->decimalDigits);
    case SQL_COLUMN_DISPLAY_SIZE: return PutNumber(numericAttr, Size(cd->displaySize));
    case SQL_COLUMN_NULLABLE: return PutNumber(numericAttr, cd->flags & COLDESC_NULLABLE_MASK);
    case SQL_COLUMN_UNSIGNED: {
      const int32_t st = cd->storageType;
      return PutNumber(numericAttr, (st == RBT_BIT || st == RBT_UTINYINT || st == RBT_USHORT ||
                                     st == RBT_ULONG) ? 1 : 0);
    }
    case SQL_COLUMN_MONEY: return PutNumber(numericAttr, 0);
    case SQL_COLUMN_UPDATABLE: {
      if (Extended(stmt, SQL_COLUMN_UPDATABLE, column, &ext)) return PutNumber(numericAttr, ext);
      const uint32_t code = (cd->flags >> COLDESC_UPDATABLE_SHIFT) & 0xF;
      return PutNumber(numericAttr, code != 0 ? static_cast<int64_t>(code) - 1
                                              : SQL_ATTR_READWRITE_UNKNOWN);
    }
    case SQL_COLUMN_AUTO_INCREMENT:
    case SQL_COLUMN_CASE_SENSITIVE:
    case SQL_DESC_ROWVER:
    case COLATTR_KEY_COLUMN:
      if (numericAttr == nullptr) return SQL_SUCCESS;
      return PutNumber(numericAttr, Extended(stmt, field, column, &ext) ? ext : 0);
    case SQL_COLUMN_SEARCHABLE:
      if (Extended(stmt, SQL_COLUMN_SEARCHABLE, column, &ext)) return PutNumber(numericAttr, ext);
      return PutNumber(numericAttr, SearchableByType(type));
    case SQL_COLUMN_TYPE_NAME: {
      // Type names have one source, the IRD's.
      DescRecord* ird = stmt->ird;
      if (ird == nullptr) {
        stmt->error = KX_ERR_GENERAL;
        return SQL_ERROR;
      }
      int64_t length = 0;
      ird->error = 0;
      const SQLRETURN rc = DescGetField(ird, static_cast<int16_t>(column), SQL_DESC_TYPE_NAME,
                                        charAttr, bufferLength, &length, form);
      if (ird->error != 0) {
        stmt->error = ird->error;
        ird->error = 0;
      }
      if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        if (stringLength != nullptr) *stringLength = ClampLength(length);
      } else if (stmt->error == 0) {
        stmt->error = rc == SQL_NO_DATA ? KX_ERR_BAD_COLUMN_NUMBER : KX_ERR_GENERAL;
        return SQL_ERROR;
      }
      return rc;
    }
    case SQL_COLUMN_TABLE_NAME:
      return PutText(stmt, OrEmpty(cd->table), charAttr, bufferLength, stringLength, form);
    case SQL_COLUMN_OWNER_NAME:
      return PutText(stmt, OrEmpty(cd->schema), charAttr, bufferLength, stringLength, form);
    case SQL_COLUMN_QUALIFIER_NAME:
      return PutText(stmt, OrEmpty(cd->catalog), charAttr, bufferLength, stringLength, form);
    default:
      return PutNumber(numericAttr, 0);
  }
}

SQLRETURN StmtColAttribute(StmtRecord* stmt, uint16_t column, uint16_t field, void* charAttr,
                           int16_t bufferLength, int16_t* stringLength, int64_t* numericAttr,
                           char form) {
  if (!IsKnownField(field)) return UnknownField(stmt);
  if (column == 0 && stmt->cursor.useBookmarks) {
    return BookmarkAttribute(stmt, field, charAttr, bufferLength, stringLength, numericAttr, form);
  }
  switch (field) {
    // The ODBC 2 identifiers that name no descriptor field.
    case SQL_COLUMN_COUNT: case SQL_COLUMN_NAME: case SQL_COLUMN_LENGTH:
    case SQL_COLUMN_PRECISION: case SQL_COLUMN_SCALE: case SQL_COLUMN_NULLABLE:
      return StmtColAttributes(stmt, column, field, charAttr, bufferLength, stringLength,
                               numericAttr, form);
    // The full label, which the IRD's name field does not carry.
    case SQL_DESC_NAME:
      return StmtColAttributes(stmt, column, SQL_COLUMN_NAME, charAttr, bufferLength,
                               stringLength, numericAttr, form);
    case SQL_DESC_NULLABLE:
      return StmtColAttributes(stmt, column, SQL_COLUMN_NULLABLE, charAttr, bufferLength,
                               stringLength, numericAttr, form);
    case SQL_DESC_COUNT: {
      // The number of result columns, as SQLNumResultCols counts them.
      int16_t count = 0;
      const int code = StmtNumResultCols(stmt, &count);
      if (code != 0) {
        stmt->error = code;
        return SQL_ERROR;
      }
      return PutNumber(numericAttr, count);
    }
    default:
      break;
  }
  if (stmt->state != STMT_PREPARED) {
    stmt->error = KX_ERR_SEQUENCE;
    return SQL_ERROR;
  }
  if (bufferLength < 0 && IsTextField(field)) {
    stmt->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  if (StmtGetColDesc(stmt, column) == nullptr) {
    if (stmt->error == 0) stmt->error = KX_ERR_BAD_COLUMN_NUMBER;
    return SQL_ERROR;
  }
  return IrdRead(stmt, column, field, charAttr, bufferLength, stringLength, numericAttr, form);
}

// ---- handlers ----------------------------------------------------------------------------

SQLRETURN StmtColAttributesCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtColAttributes(static_cast<StmtRecord*>(rec), a.Get<uint16_t>(0), a.Get<uint16_t>(1),
                           a.Get<void*>(2), a.Get<int16_t>(3), a.Get<int16_t*>(4),
                           a.Get<int64_t*>(5), a.Count() > 6 ? a.Get<char>(6) : 'A');
}

SQLRETURN StmtColAttributeCall(HandleHead* rec, const OdbcArgs& a) {
  return StmtColAttribute(static_cast<StmtRecord*>(rec), a.Get<uint16_t>(0), a.Get<uint16_t>(1),
                          a.Get<void*>(2), a.Get<int16_t>(3), a.Get<int16_t*>(4),
                          a.Get<int64_t*>(5), a.Count() > 6 ? a.Get<char>(6) : 'A');
}

}  // namespace kx
