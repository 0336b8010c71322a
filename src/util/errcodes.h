// Internal status codes: 0 is success, anything else is a row of the driver's
// error-code table (SQLSTATE and message text are composed from the row).
#pragma once

namespace kx {

constexpr int KX_OK = 0;
constexpr int KX_ERR_GENERAL = 15;         // S1000: an argument does not fit
constexpr int KX_ERR_NOMEM = 16;           // S1001: memory allocation failure
constexpr int KX_ERR_TOO_MANY_HANDLES = 131;  // S1014: limit on the number of handles

}  // namespace kx
