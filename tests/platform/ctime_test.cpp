// CTime: local calendar times for the clock-time texts and file stamps.

#include "support/testutil.h"

#include <sundry/platform/CTime.h>

#include <chrono>
#include <climits>
#include <string>

namespace {

using sundry::test::ScopedEnv;

// Seconds since the epoch of a UTC date and time, computed without CTime.
time_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  using namespace std::chrono;
  sys_days date = year{y} / month{mo} / day{d};
  return static_cast<time_t>(date.time_since_epoch().count()) * 86400 + h * 3600 + mi * 60 + s;
}

// Central European time: UTC+1, summer time UTC+2 from the last Sunday of
// March 02:00 to the last Sunday of October 03:00.
const char* const kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(CTime, LocalFieldsRoundTrip) {
  ScopedEnv tz("TZ", kBerlin);
  CTime t(2024, 1, 31, 23, 59, 59);
  EXPECT_EQ(Utc(2024, 1, 31, 22, 59, 59), t.GetTime());
  EXPECT_EQ(2024, t.GetYear());
  EXPECT_EQ(1, t.GetMonth());
  EXPECT_EQ(31, t.GetDay());
  EXPECT_EQ(23, t.GetHour());
  EXPECT_EQ(59, t.GetMinute());
  EXPECT_EQ(59, t.GetSecond());
  EXPECT_EQ(4, t.GetDayOfWeek());  // Wednesday; Sunday is 1
  EXPECT_EQ("20240131235959", t.Format("%Y%m%d%H%M%S"));
  EXPECT_EQ("2024-01-31 22:59:59", t.FormatGmt("%Y-%m-%d %H:%M:%S"));
  EXPECT_EQ(nullptr, t.GetLocalTm(nullptr));
}

TEST(CTime, DaylightSavingTimeFollowsTheZone) {
  ScopedEnv tz("TZ", kBerlin);
  EXPECT_EQ(Utc(2024, 1, 15, 11), CTime(2024, 1, 15, 12, 0, 0).GetTime());
  EXPECT_EQ(Utc(2024, 7, 15, 10), CTime(2024, 7, 15, 12, 0, 0).GetTime());
  // 02:30 on the last Sunday of March does not exist; it becomes 03:30.
  CTime gap(2024, 3, 31, 2, 30, 0);
  EXPECT_EQ(Utc(2024, 3, 31, 1, 30), gap.GetTime());
  EXPECT_EQ(3, gap.GetHour());
  // The same instant seen from another zone: TZ is read at every conversion.
  CTime noon(Utc(2024, 7, 15, 12));
  EXPECT_EQ(14, noon.GetHour());
  {
    ScopedEnv utc("TZ", "UTC0");
    EXPECT_EQ(12, noon.GetHour());
  }
  {
    ScopedEnv ny("TZ", "EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(8, noon.GetHour());
  }
}

TEST(CTime, InvalidDatesGiveMinusOne) {
  ScopedEnv tz("TZ", "UTC0");
  struct Case {
    int y, mo, d, h, mi, s;
  } cases[] = {
      {2024, 2, 30, 0, 0, 0},      // no such day: not rolled over into March
      {2023, 2, 29, 0, 0, 0},      // not a leap year
      {2024, 13, 1, 0, 0, 0},      {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 0, 60},
      {1969, 12, 31, 23, 59, 59},  // before the epoch
      {3001, 1, 1, 0, 0, 0},       // after the end of the calendar range
  };
  for (const Case& c : cases) {
    EXPECT_DEBUG_DEATH(
        {
          CTime t(c.y, c.mo, c.d, c.h, c.mi, c.s);
          EXPECT_EQ(-1, t.GetTime()) << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s;
        },
        "invalid");
  }
  EXPECT_EQ(Utc(2024, 2, 29), CTime(2024, 2, 29, 0, 0, 0).GetTime());
  EXPECT_EQ(0, CTime(1970, 1, 1, 0, 0, 0).GetTime());
}

TEST(CTime, OutsideTheCalendarRangeHasNoParts) {
  ScopedEnv tz("TZ", "UTC0");
  CTime last(sundry::platform::kMaxCalendarTime);
  EXPECT_EQ("3000-12-31 23:59:59", last.Format("%Y-%m-%d %H:%M:%S"));
  for (time_t v : {time_t{-1}, sundry::platform::kMaxCalendarTime + 1, time_t{LLONG_MAX}}) {
    CTime t(v);
    EXPECT_EQ(-1, t.GetYear()) << v;
    EXPECT_EQ(-1, t.GetHour()) << v;
    EXPECT_EQ(-1, t.GetDayOfWeek()) << v;
    EXPECT_TRUE(t.Format("%H").IsEmpty()) << v;
    struct tm tm;
    EXPECT_EQ(nullptr, t.GetLocalTm(&tm));
    EXPECT_EQ(nullptr, t.GetGmtTm(&tm));
  }
}

TEST(CTime, FormatOfAnyLength) {
  ScopedEnv tz("TZ", "UTC0");
  CTime t(Utc(2001, 2, 3, 4, 5, 6));
  std::string fmt;
  for (int i = 0; i < 1000; ++i) fmt += "%Y";
  CString text = t.Format(fmt.c_str());
  ASSERT_EQ(4000, text.GetLength());
  EXPECT_EQ(0, text.Find("20012001"));
  EXPECT_EQ("100% 04:05:06", t.Format("100%% %H:%M:%S"));
  EXPECT_TRUE(t.Format("").IsEmpty());
  EXPECT_TRUE(t.Format(nullptr).IsEmpty());
}

TEST(CTime, DifferencesAndComparisons) {
  CTime a(Utc(2024, 5, 1));
  CTime b = a + CTimeSpan(1, 2, 3, 4);
  CTimeSpan d = b - a;
  EXPECT_EQ(93784, d.GetTotalSeconds());
  EXPECT_EQ(1, d.GetDays());
  EXPECT_EQ(2, d.GetHours());
  EXPECT_EQ(3, d.GetMinutes());
  EXPECT_EQ(4, d.GetSeconds());
  EXPECT_EQ(26, d.GetTotalHours());
  EXPECT_EQ(a, b - d);

  time_t before = ::time(nullptr);
  CTime now = CTime::GetCurrentTime();
  time_t after = ::time(nullptr);
  EXPECT_LE(before, now.GetTime());
  EXPECT_GE(after, now.GetTime());
}

}  // namespace
