#pragma once

// The user's regional formats, read once when the program starts, and dates as day counts
// from 30 December 1899 (the fraction is the time of day), in local time.

#include <string>

namespace win32 {

struct FormatSettings {
  std::u16string decimalSeparator;
  std::u16string thousandSeparator;
  std::string shortDateFormat;  // strftime form
  std::string longTimeFormat;   // strftime form
};

// The user's formats. Where the locale defines no separators (the C and POSIX locales) the
// decimal separator is "." and the thousands separator ",".
const FormatSettings& UserFormats();
// Tests install formats of their own.
void InstallFormatSettings(const FormatSettings& formats);

using TDateTime = double;

TDateTime Now();
std::u16string FormatShortDate(TDateTime value);
std::u16string FormatLongTime(TDateTime value);

}  // namespace win32
