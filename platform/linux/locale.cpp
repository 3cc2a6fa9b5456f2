#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cmath>
#include <mutex>
#include <optional>

#include "platform/strings.h"

namespace win32 {

namespace {

// The user's locale, made once from the environment the program started with.
locale_t UserLocale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    return made != static_cast<locale_t>(0) ? made : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

FormatSettings ReadFormats() {
  FormatSettings formats;
  const locale_t locale = UserLocale();
  const std::string decimal = nl_langinfo_l(RADIXCHAR, locale);
  const std::string thousands = nl_langinfo_l(THOUSEP, locale);
  formats.decimalSeparator = Utf16(decimal.empty() ? "." : decimal);
  formats.thousandSeparator = Utf16(thousands.empty() ? (decimal == "," ? "." : ",") : thousands);
  formats.shortDateFormat = nl_langinfo_l(D_FMT, locale);
  formats.longTimeFormat = nl_langinfo_l(T_FMT, locale);
  if (formats.shortDateFormat.empty()) formats.shortDateFormat = "%m/%d/%y";
  if (formats.longTimeFormat.empty()) formats.longTimeFormat = "%H:%M:%S";
  return formats;
}

std::mutex formatsLock;  // Guards installed.
std::optional<FormatSettings> installed;

// Days from 30 December 1899 to 1 January 1970.
constexpr double kUnixEpochDay = 25569.0;

std::u16string Format(TDateTime value, const std::string& format) {
  const auto seconds = static_cast<time_t>(std::floor((value - kUnixEpochDay) * 86400.0 + 0.5));
  tm fields{};
  gmtime_r(&seconds, &fields);  // The day count is already local wall-clock time.
  char buffer[256];
  const std::size_t n = strftime_l(buffer, sizeof buffer, format.c_str(), &fields, UserLocale());
  return Utf16(std::string(buffer, n));
}

}  // namespace

const FormatSettings& UserFormats() {
  static const FormatSettings user = ReadFormats();
  std::lock_guard guard(formatsLock);
  return installed ? *installed : user;
}

void InstallFormatSettings(const FormatSettings& formats) {
  std::lock_guard guard(formatsLock);
  installed = formats;
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  const double wall = static_cast<double>(now.tv_sec + local.tm_gmtoff) + now.tv_nsec / 1e9;
  return kUnixEpochDay + wall / 86400.0;
}

std::u16string FormatShortDate(TDateTime value) { return Format(value, UserFormats().shortDateFormat); }

std::u16string FormatLongTime(TDateTime value) { return Format(value, UserFormats().longTimeFormat); }

}  // namespace win32
