// Numbers in text, always in the C locale whatever the process locale is.
// Formatting goes through CDynString::Format, which uses ClassicLocale();
// every reader scans numbers with ScanNumber.
#pragma once

#include <locale.h>

// The C locale, made once.
locale_t ClassicLocale();

// Reads one number as "%lf" does in the C locale: blanks are skipped, then an
// optional sign, decimal digits with an optional point, and an optional
// exponent. The text ends at end, or at a NUL byte when end is null. True,
// value set and p moved behind the number, when there is one; otherwise p
// and value stay. A number too large for a double reads as an infinity.
bool ScanNumber(const char*& p, const char* end, double& value);
