// Exports: the descriptor calls, narrow and wide. The wide forms pass their
// buffers through; the handlers write UTF-16 themselves (form 'W').
#include "odbc/dispatch.h"

using namespace kx;

extern "C" {

SQLRETURN SQL_API SQLCopyDesc(SQLHDESC source, SQLHDESC target) {
  return CallODBC(kRecCopyDesc, source, target);
}

SQLRETURN SQL_API SQLGetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLINTEGER capacity, SQLINTEGER* length) {
  return CallODBC(kRecGetDescField, desc, record, field, value, capacity, length, 'A');
}

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER capacity, SQLINTEGER* length) {
  return CallODBC(kRecGetDescFieldW, desc, record, field, value, capacity, length, 'W');
}

SQLRETURN SQL_API SQLGetDescRec(SQLHDESC desc, SQLSMALLINT record, SQLCHAR* name,
                                SQLSMALLINT capacity, SQLSMALLINT* length, SQLSMALLINT* type,
                                SQLSMALLINT* subType, SQLLEN* octets, SQLSMALLINT* precision,
                                SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  return CallODBC(kRecGetDescRec, desc, record, name, capacity, length, type, subType, octets,
                  precision, scale, nullable, 'A');
}

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC desc, SQLSMALLINT record, SQLWCHAR* name,
                                 SQLSMALLINT capacity, SQLSMALLINT* length, SQLSMALLINT* type,
                                 SQLSMALLINT* subType, SQLLEN* octets, SQLSMALLINT* precision,
                                 SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  return CallODBC(kRecGetDescRecW, desc, record, name, capacity, length, type, subType, octets,
                  precision, scale, nullable, 'W');
}

SQLRETURN SQL_API SQLSetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLINTEGER length) {
  return CallODBC(kRecSetDescField, desc, record, field, value, length, 'A');
}

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER length) {
  return CallODBC(kRecSetDescFieldW, desc, record, field, value, length, 'W');
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT type,
                                SQLSMALLINT subType, SQLLEN length, SQLSMALLINT precision,
                                SQLSMALLINT scale, SQLPOINTER data, SQLLEN* stringLength,
                                SQLLEN* indicator) {
  return CallODBC(kRecSetDescRec, desc, record, type, subType, length, precision, scale, data,
                  stringLength, indicator);
}

}  // extern "C"
