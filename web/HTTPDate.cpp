#include "web/HTTPDate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "rtl/StrUtils.h"

namespace vv {

namespace {

const char *const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Day 0 of TDateTime is 1899-12-30.
constexpr int64_t kDaysFrom1970 = 25569;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t &y, int &m, int &d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int MonthIndex(std::string_view s) {
  for (int i = 0; i < 12; ++i)
    if (SameText(s, kMonthNames[i])) return i + 1;
  return 0;
}

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = DaysFromCivil(year, month, day) + kDaysFrom1970;
  return double(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::string DateTimeToHTTPDate(TDateTime value) {
  // The value is taken to the millisecond, then the time of day is printed
  // with its seconds cut, not rounded: 14:03:05.7 reads 14:03:05, while
  // 23:59:59.9996 is already the next day's 00:00:00.
  constexpr int64_t kMSecsPerDay = 86400000;
  int64_t msecs = int64_t(std::llround(value * double(kMSecsPerDay)));
  int64_t days = msecs >= 0 ? msecs / kMSecsPerDay : -((-msecs + kMSecsPerDay - 1) / kMSecsPerDay);
  int64_t tod = (msecs - days * kMSecsPerDay) / 1000;
  int64_t y;
  int m, d;
  CivilFromDays(days - kDaysFrom1970, y, m, d);
  // 1899-12-30 was a Saturday.
  int dow = int(((days % 7) + 7 + 6) % 7);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kDayNames[dow], d,
                kMonthNames[m - 1], (long long)y, int(tod / 3600), int(tod / 60 % 60),
                int(tod % 60));
  return buf;
}

TDateTime HTTPDateToDateTime(std::string_view text) {
  std::string s(Trim(text));
  char wk[16], mon[16];
  int d, y, hh, mm, ss;
  // RFC 1123: "Sun, 06 Nov 1994 08:49:37 GMT"
  if (std::sscanf(s.c_str(), "%15[A-Za-z], %d %15[A-Za-z] %d %d:%d:%d", wk, &d, mon, &y, &hh, &mm,
                  &ss) == 7 ||
      // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
      std::sscanf(s.c_str(), "%15[A-Za-z], %d-%15[A-Za-z]-%d %d:%d:%d", wk, &d, mon, &y, &hh, &mm,
                  &ss) == 7 ||
      // asctime: "Sun Nov  6 08:49:37 1994"
      std::sscanf(s.c_str(), "%15[A-Za-z] %15[A-Za-z] %d %d:%d:%d %d", wk, mon, &d, &hh, &mm, &ss,
                  &y) == 7) {
    int m = MonthIndex(mon);
    if (!m || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60) return -1;
    if (y < 100) y += y < 50 ? 2000 : 1900;
    return EncodeDateTime(y, m, d, hh, mm, ss);
  }
  return -1;
}

} // namespace vv
