// The login dialog seam. There is no setup library with a dialog on this
// platform: by default no dialog is loaded and every completion mode behaves
// as SQL_DRIVER_NOPROMPT (missing values become connect errors, never a
// hang). A library exporting ZntLOGIN and ZntLOGIN_Free can be loaded in its
// place; the connect code then calls it exactly as it would call the dialog.
#pragma once

#include <sql.h>

namespace kx {

// Shows the dialog: parent window, driver name, the application's connect
// string as passed in, where the dialog stores its own connect string, and the
// mode letter ('A' or 'W'). 1 when the user confirmed; anything else cancels.
using ZntLoginFn = int (*)(SQLHWND parent, const char* driver, const char* connIn, char** result,
                           int mode);
// Releases what ZntLOGIN stored (called after every dialog, also with NULL).
using ZntLoginFreeFn = void (*)(char* result);

struct LoginDialog {
  ZntLoginFn login;
  ZntLoginFreeFn release;
};

// The dialog in use, or nullptr when there is none (the default).
const LoginDialog* LoginDialogGet();
// Loads the library at path and takes its two entries: 0, or -1 (with no
// dialog in use) when it or an entry is missing. A NULL path drops the dialog.
int LoginDialogLoad(const char* path);

}  // namespace kx
