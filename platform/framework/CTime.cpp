// CTime and CTimeSpan over time_t, and the local-time conversions they
// stand on.

#include <sundry/platform/CTime.h>

#include <cassert>
#include <cstring>
#include <string>

namespace sundry::platform {

namespace {

bool InCalendarRange(time_t t) { return t >= kMinCalendarTime && t <= kMaxCalendarTime; }

}  // namespace

BOOL LocalTimeFromTime(time_t t, struct tm* out) {
  if (out == nullptr || !InCalendarRange(t)) return FALSE;
  // localtime_r need not look at TZ again; tzset makes a changed zone count.
  tzset();
  struct tm result;
  if (localtime_r(&t, &result) == nullptr) return FALSE;
  *out = result;
  return TRUE;
}

BOOL UtcTimeFromTime(time_t t, struct tm* out) {
  if (out == nullptr || !InCalendarRange(t)) return FALSE;
  struct tm result;
  if (gmtime_r(&t, &result) == nullptr) return FALSE;
  *out = result;
  return TRUE;
}

time_t TimeFromLocalTime(struct tm* tm) {
  if (tm == nullptr) return -1;
  tzset();
  time_t t = mktime(tm);
  // mktime's own failure value is -1, which is outside the range anyway.
  return InCalendarRange(t) ? t : -1;
}

}  // namespace sundry::platform

using sundry::platform::LocalTimeFromTime;
using sundry::platform::TimeFromLocalTime;
using sundry::platform::UtcTimeFromTime;

namespace {

// strftime into a CString of whatever length the result needs. A space is
// appended to the format so that a successful call never returns 0, which
// strftime also returns for a buffer that is too small; it is cut off again.
CString FormatTm(const char* format, const struct tm& tm) {
  if (format == nullptr || *format == '\0') return CString();
  std::string fmt(format);
  fmt += ' ';
  std::string buf;
  for (size_t size = 256; size <= (1u << 24); size *= 2) {
    buf.resize(size);
    size_t n = strftime(buf.data(), size, fmt.c_str(), &tm);
    if (n > 0) return CString(buf.data(), static_cast<int>(n - 1));
  }
  return CString();
}

}  // namespace

CTimeSpan::CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs)
    : m_span(static_cast<time_t>(lDays) * 86400 + static_cast<time_t>(nHours) * 3600 +
             static_cast<time_t>(nMins) * 60 + nSecs) {}

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST) : m_time(-1) {
  bool fieldsValid = nYear >= 1900 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= 31 && nHour >= 0 &&
                     nHour <= 23 && nMin >= 0 && nMin <= 59 && nSec >= 0 && nSec <= 59;
  if (fieldsValid) {
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    tm.tm_hour = nHour;
    tm.tm_min = nMin;
    tm.tm_sec = nSec;
    tm.tm_isdst = nDST < 0 ? -1 : (nDST > 0 ? 1 : 0);
    time_t t = TimeFromLocalTime(&tm);
    // mktime turns 31 April into 1 May; such a date is refused instead.
    if (t != -1 && tm.tm_year == nYear - 1900 && tm.tm_mon == nMonth - 1 && tm.tm_mday == nDay) m_time = t;
  }
  assert(m_time != -1 && "CTime: invalid date or time");
}

CTime CTime::GetCurrentTime() { return CTime(::time(nullptr)); }

struct tm* CTime::GetLocalTm(struct tm* ptm) const { return LocalTimeFromTime(m_time, ptm) ? ptm : nullptr; }

struct tm* CTime::GetGmtTm(struct tm* ptm) const { return UtcTimeFromTime(m_time, ptm) ? ptm : nullptr; }

#define SUNDRY_CTIME_PART(name, expr)            \
  int CTime::name() const {                      \
    struct tm tm;                                \
    if (!LocalTimeFromTime(m_time, &tm)) return -1; \
    return expr;                                 \
  }
SUNDRY_CTIME_PART(GetYear, tm.tm_year + 1900)
SUNDRY_CTIME_PART(GetMonth, tm.tm_mon + 1)
SUNDRY_CTIME_PART(GetDay, tm.tm_mday)
SUNDRY_CTIME_PART(GetHour, tm.tm_hour)
SUNDRY_CTIME_PART(GetMinute, tm.tm_min)
SUNDRY_CTIME_PART(GetSecond, tm.tm_sec)
SUNDRY_CTIME_PART(GetDayOfWeek, tm.tm_wday + 1)
#undef SUNDRY_CTIME_PART

CString CTime::Format(const char* pFormat) const {
  struct tm tm;
  if (!LocalTimeFromTime(m_time, &tm)) return CString();
  return FormatTm(pFormat, tm);
}

CString CTime::FormatGmt(const char* pFormat) const {
  struct tm tm;
  if (!UtcTimeFromTime(m_time, &tm)) return CString();
  return FormatTm(pFormat, tm);
}
