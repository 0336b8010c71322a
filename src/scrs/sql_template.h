// Template expansion into a std::string, shared by TPL_Expand and the tree's
// regeneration.
#pragma once

#include <string>

namespace kx {

// Appends the expansion of tmpl with args[0..argc-1] to out. A NULL args[i]
// inserts nothing. Never reads past the template's terminator, whatever the
// bytes. May throw std::bad_alloc.
void tpl_ExpandTo(std::string& out, const char* tmpl, char** args, int argc);

}  // namespace kx
