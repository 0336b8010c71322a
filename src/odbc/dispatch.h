// The one door of every ODBC call: the exports hand their call record and
// arguments to CallODBC, which validates the handle, serialises the call on
// its connection, runs the handler and traces the call and its result.
//
// Handlers: SQLRETURN handler(HandleHead* record, const OdbcArgs& args).
//   - record: the handle's record (cast it to the record of the call record's
//     kind), or nullptr for kind HK_NONE;
//   - args: the arguments after the handle, in call order, one 8-byte slot
//     each (integers widened, signed ones with their sign); read them with
//     args.Get<T>(i). Records marked "form" get the letter 'A' (narrow entry)
//     or 'W' (wide entry) as one more, last, argument.
//   - on failure a handler leaves the cause on its record: record->error = a
//     row of the error-code table, or messages appended to record->messages.
//
// To add a handler: write it with the signature above, declare it in
// odbc/handlers.h and put its name in the call record(s) in call_records.cpp
// in place of HandlerNotYet.
#pragma once

#include <sql.h>

#include <cstddef>

#include "odbc/call_args.h"
#include "odbc/call_records.h"

namespace kx {

// ---- the dispatcher -----------------------------------------------------------

// Runs one call. For kinds HK_ENV..HK_DESC the first slot of all is the
// handle (its low 32 bits are the handle value). Never throws.
SQLRETURN CallODBCArgs(const OdbcCallRecord& record, OdbcArgs& all) noexcept;

template <class... A>
SQLRETURN CallODBC(const OdbcCallRecord& record, A... args) noexcept {
  static_assert(sizeof...(A) <= OdbcArgs::kMaxSlots, "too many arguments");
  OdbcArgs all{{ToArgSlot(args)...}, static_cast<int>(sizeof...(A)), 0};
  return CallODBCArgs(record, all);
}

// The "returning SQL_%s" name of a return code.
const char* ReturnCodeName(SQLRETURN rc);

// Formats the argument line of a record: every conversion shows a 32-bit
// value ("%p" a whole pointer). Always terminates; cuts at capacity.
void FormatCallArgs(const char* format, const OdbcArgs& args, char* out, size_t capacity);

// Answers a call whose handler is not built yet: IM001 on the record.
SQLRETURN HandlerNotYet(HandleHead* record, const OdbcArgs& args);

}  // namespace kx
