// CTime: local calendar times for the clock-time texts and file stamps.

#include "support/testutil.h"

#include <sundry/platform/CTime.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

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

TEST(CTime, LocalFieldsFollowTheZoneAndItsSummerTime) {
#if defined(_WIN32)
  GTEST_SKIP() << "the Windows C run-time reads no summer-time rules from TZ";
#endif
  ScopedEnv tz("TZ", kBerlin);
  CTime t(2024, 1, 31, 23, 59, 59);
  EXPECT_EQ(Utc(2024, 1, 31, 22, 59, 59), t.GetTime());
  EXPECT_EQ("2024-01-31 23:59:59", t.Format("%Y-%m-%d %H:%M:%S"));
  const int parts[] = {t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond()};
  EXPECT_EQ((std::vector<int>{2024, 1, 31, 23, 59, 59}), std::vector<int>(parts, parts + 6));
  EXPECT_EQ(4, t.GetDayOfWeek());  // Wednesday; Sunday is 1
  EXPECT_EQ("2024-01-31 22:59:59", t.FormatGmt("%Y-%m-%d %H:%M:%S"));
  EXPECT_EQ(nullptr, t.GetLocalTm(nullptr));
  EXPECT_EQ(Utc(2024, 7, 15, 10), CTime(2024, 7, 15, 12, 0, 0).GetTime());
  // 02:30 on the last Sunday of March does not exist; it becomes 03:30.
  CTime gap(2024, 3, 31, 2, 30, 0);
  EXPECT_EQ(Utc(2024, 3, 31, 1, 30), gap.GetTime());
  EXPECT_EQ(3, gap.GetHour());
  // The same instant seen from another zone: TZ is read at every conversion.
  CTime noon(Utc(2024, 7, 15, 12));
  EXPECT_EQ(14, noon.GetHour());
  ScopedEnv ny("TZ", "EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(8, noon.GetHour());
}

TEST(CTime, InvalidDatesAndTimesOutsideTheCalendarHaveNoParts) {
  ScopedEnv tz("TZ", "UTC0");
  const int invalid[][6] = {
      {2024, 2, 30, 0, 0, 0},      // no such day: not rolled over into March
      {2023, 2, 29, 0, 0, 0},      // not a leap year
      {2024, 13, 1, 0, 0, 0},      {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 0, 60},
      {1969, 12, 31, 23, 59, 59},  // before the epoch
      {3001, 1, 1, 0, 0, 0},       // after the end of the calendar range
  };
  for (const auto& c : invalid) {
    EXPECT_DEBUG_DEATH(EXPECT_EQ(-1, CTime(c[0], c[1], c[2], c[3], c[4], c[5]).GetTime()) << c[0] << "-" << c[1]
                                                                                          << "-" << c[2],
                       "invalid");
  }
  EXPECT_EQ(Utc(2024, 2, 29), CTime(2024, 2, 29, 0, 0, 0).GetTime());
  EXPECT_EQ(0, CTime(1970, 1, 1, 0, 0, 0).GetTime());

  EXPECT_EQ("3000-12-31 23:59:59", CTime(sundry::platform::kMaxCalendarTime).Format("%Y-%m-%d %H:%M:%S"));
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

TEST(CTime, DifferencesAndTheCurrentTime) {
  CTime a(Utc(2024, 5, 1));
  CTime b = a + CTimeSpan(1, 2, 3, 4);
  CTimeSpan d = b - a;
  EXPECT_EQ(93784, d.GetTotalSeconds());
  const LONGLONG parts[] = {d.GetDays(), d.GetHours(), d.GetMinutes(), d.GetSeconds(), d.GetTotalHours()};
  EXPECT_EQ((std::vector<LONGLONG>{1, 2, 3, 4, 26}), std::vector<LONGLONG>(parts, parts + 5));
  EXPECT_EQ(a, b - d);
  const time_t before = ::time(nullptr);
  const time_t now = CTime::GetCurrentTime().GetTime();
  EXPECT_LE(before, now);
  EXPECT_GE(::time(nullptr), now);
}

}  // namespace
