#pragma once
// CTime and CTimeSpan: the framework's calendar time, a count of seconds
// since 1970-01-01 00:00:00 UTC held in a 64-bit time_t, and the difference
// of two such times.
//
// Conversions to broken-down time cover what the original platform's run-time
// covers: 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC. A CTime may
// hold any value, but outside that range it has no calendar form: the Get*
// parts return -1, GetLocalTm/GetGmtTm return null and Format returns an
// empty string. Local time follows the TZ environment variable, re-read at
// every conversion.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/wintypes.h>

#include <ctime>

namespace sundry::platform {

// Earliest and latest instants with a calendar form.
constexpr time_t kMinCalendarTime = 0;
constexpr time_t kMaxCalendarTime = 32535215999;  // 3000-12-31 23:59:59 UTC

// Converts t to local broken-down time (localtime_r after re-reading TZ).
// Returns TRUE and fills *out; FALSE when out is null or t lies outside
// [kMinCalendarTime, kMaxCalendarTime] or cannot be converted, *out then
// unchanged. Stands for the C run-time's localtime: the last error is not
// touched. Thread-safe: the copy worker and the caller's thread may convert
// at the same time.
SUNDRY_EXPORT BOOL LocalTimeFromTime(time_t t, struct tm* out);

// The same in UTC (gmtime_r).
SUNDRY_EXPORT BOOL UtcTimeFromTime(time_t t, struct tm* out);

// Converts local broken-down time to a time_t (mktime after re-reading TZ);
// fields out of their ranges are normalised, and *tm receives the normalised
// fields on success. Returns -1 when tm is null, when the result cannot be
// represented or lies outside [kMinCalendarTime, kMaxCalendarTime]; *tm is
// then unspecified. The last error is not touched. Thread-safe.
SUNDRY_EXPORT time_t TimeFromLocalTime(struct tm* tm);

}  // namespace sundry::platform

// A signed number of seconds.
class SUNDRY_EXPORT CTimeSpan {
 public:
  CTimeSpan() = default;
  CTimeSpan(time_t seconds) : m_span(seconds) {}  // NOLINT: implicit as in the framework
  CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs);

  LONGLONG GetDays() const { return m_span / (24 * 3600); }
  LONGLONG GetTotalHours() const { return m_span / 3600; }
  LONG GetHours() const { return static_cast<LONG>(GetTotalHours() - GetDays() * 24); }
  LONGLONG GetTotalMinutes() const { return m_span / 60; }
  LONG GetMinutes() const { return static_cast<LONG>(GetTotalMinutes() - GetTotalHours() * 60); }
  LONGLONG GetTotalSeconds() const { return m_span; }
  LONG GetSeconds() const { return static_cast<LONG>(GetTotalSeconds() - GetTotalMinutes() * 60); }
  time_t GetTimeSpan() const { return m_span; }

  CTimeSpan operator+(CTimeSpan other) const { return CTimeSpan(m_span + other.m_span); }
  CTimeSpan operator-(CTimeSpan other) const { return CTimeSpan(m_span - other.m_span); }
  CTimeSpan& operator+=(CTimeSpan other) {
    m_span += other.m_span;
    return *this;
  }
  CTimeSpan& operator-=(CTimeSpan other) {
    m_span -= other.m_span;
    return *this;
  }
  bool operator==(CTimeSpan other) const { return m_span == other.m_span; }
  bool operator!=(CTimeSpan other) const { return m_span != other.m_span; }
  bool operator<(CTimeSpan other) const { return m_span < other.m_span; }
  bool operator>(CTimeSpan other) const { return m_span > other.m_span; }
  bool operator<=(CTimeSpan other) const { return m_span <= other.m_span; }
  bool operator>=(CTimeSpan other) const { return m_span >= other.m_span; }

 private:
  time_t m_span = 0;
};

class SUNDRY_EXPORT CTime {
 public:
  CTime() = default;
  CTime(time_t time) : m_time(time) {}  // NOLINT: implicit as in the framework
  // A local date and time: year 1900 or later, month 1-12, day 1 to the
  // month's last day, hour 0-23, minute and second 0-59. nDST < 0 lets the
  // zone rules decide whether daylight saving time applies, 0 says standard
  // time, > 0 daylight time. A time that falls into a daylight-saving gap is
  // moved forward by the gap, as mktime does. Invalid fields, or a time
  // outside the calendar range, give the time -1 (and an assert in a debug
  // build).
  CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST = -1);

  // The current time, to the second.
  static CTime GetCurrentTime();

  time_t GetTime() const { return m_time; }

  // Fills *ptm with the local (or UTC) broken-down time and returns ptm;
  // null when ptm is null or the time has no calendar form.
  struct tm* GetLocalTm(struct tm* ptm) const;
  struct tm* GetGmtTm(struct tm* ptm) const;

  // Parts of the local time, or -1 when the time has no calendar form.
  int GetYear() const;
  int GetMonth() const;      // 1-12
  int GetDay() const;        // 1-31
  int GetHour() const;       // 0-23
  int GetMinute() const;     // 0-59
  int GetSecond() const;     // 0-60 (60 only for a leap second the zone data knows)
  int GetDayOfWeek() const;  // 1 = Sunday ... 7 = Saturday

  // The local (or UTC) time formatted with strftime; empty when the format
  // is null or the time has no calendar form. The output may be of any
  // length.
  CString Format(const char* pFormat) const;
  CString FormatGmt(const char* pFormat) const;

  CTimeSpan operator-(CTime other) const { return CTimeSpan(m_time - other.m_time); }
  CTime operator+(CTimeSpan span) const { return CTime(m_time + span.GetTimeSpan()); }
  CTime operator-(CTimeSpan span) const { return CTime(m_time - span.GetTimeSpan()); }
  CTime& operator+=(CTimeSpan span) {
    m_time += span.GetTimeSpan();
    return *this;
  }
  CTime& operator-=(CTimeSpan span) {
    m_time -= span.GetTimeSpan();
    return *this;
  }
  bool operator==(CTime other) const { return m_time == other.m_time; }
  bool operator!=(CTime other) const { return m_time != other.m_time; }
  bool operator<(CTime other) const { return m_time < other.m_time; }
  bool operator>(CTime other) const { return m_time > other.m_time; }
  bool operator<=(CTime other) const { return m_time <= other.m_time; }
  bool operator>=(CTime other) const { return m_time >= other.m_time; }

 private:
  time_t m_time = 0;
};
