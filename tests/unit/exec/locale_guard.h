// Runs a test under a process locale whose decimal point is a comma, as an
// application that called setlocale(LC_ALL, "de_DE.UTF-8") would.
#pragma once

#include <string>

namespace kx::test {

// Switches LC_ALL to a comma-decimal locale and returns its name, or returns
// an empty string with *why set when none can be had. Tries the installed
// locales first, then compiles de_DE.UTF-8 with localedef into a private
// directory (LOCPATH) from the sources of the "locales" package.
std::string UseCommaDecimalLocale(std::string* why);

// Back to the "C" locale.
void UseCLocale();

}  // namespace kx::test
