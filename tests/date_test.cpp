// Date texts of the phone's stored times.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "util/date.h"

namespace tamsel {
namespace {

class DateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }

  // Seconds since 1970 of a UTC wall-clock time.
  static int64_t unixTime(int year, int month, int day, int hour = 0, int minute = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return static_cast<int64_t>(timegm(&tm));
  }
  // Seconds since 2001 of a UTC wall-clock time.
  static int64_t since2001(int year, int month, int day, int hour = 0, int minute = 0) {
    return unixTime(year, month, day, hour, minute) - kSecondsFrom1970To2001;
  }
};

// The date texts are made without asking the C library for every time: they must still be
// the library's local times, in zones with clock changes (at whole and half hours) and
// without, on both sides of each change, and after the zone setting changes.
TEST_F(DateTest, LocalTimesAgreeWithTheLibraryInEveryZone) {
  auto library = [](int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d %02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
    return std::string(buf);
  };
  uint64_t seed = 88172645463325252ull;
  for (const char* zone : {"UTC", "Europe/London", "America/New_York", "Australia/Lord_Howe",
                           "Asia/Kolkata", "Pacific/Chatham", "UTC"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    // Every quarter hour around the 2013 clock changes of both hemispheres, then random times.
    std::vector<int64_t> times;
    for (int64_t t = unixTime(2013, 3, 29); t < unixTime(2013, 4, 8); t += 900) times.push_back(t);
    for (int64_t t = unixTime(2013, 10, 5); t < unixTime(2013, 11, 5); t += 900) times.push_back(t);
    for (int i = 0; i < 20000; ++i) {
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      times.push_back(static_cast<int64_t>(seed % 2200000000ull) - 100000000);
    }
    for (int64_t t : times) {
      if (t <= 0) continue;
      ASSERT_EQ(GetDateTime(t + 1, 1), library(t + 1 + kSecondsFrom1970To2001)) << t;
      ASSERT_EQ(formatUnixTime(t), library(t)) << t;
    }
  }
}

TEST_F(DateTest, NothingForZeroNegativeOrUnknownKind) {
  for (int kind : {0, 1}) {
    EXPECT_FALSE(GetDateTime(0, kind));
    EXPECT_FALSE(GetDateTime(-1, kind));
    EXPECT_FALSE(GetDateTime(-978307200, kind));
  }
  EXPECT_FALSE(GetDateTime(since2001(2010, 1, 1), 2));
  EXPECT_FALSE(GetDateTime(since2001(2010, 1, 1), -1));
}

TEST_F(DateTest, NotesAndCalendarCountFrom2001) {
  // The values whose 1970 breakdown falls on the leap-day boundaries of the 1970s.
  EXPECT_EQ(GetDateTime(unixTime(1973, 2, 28), 1), "02-29-2004 00:00");
  EXPECT_EQ(GetDateTime(unixTime(1972, 2, 29), 1), "03-01-2003 00:00");
  EXPECT_EQ(GetDateTime(unixTime(1972, 12, 31), 1), "01-01-2004 00:00");
  EXPECT_EQ(GetDateTime(1, 1), "01-01-2001 00:00");
  EXPECT_EQ(GetDateTime(59, 1), "01-01-2001 00:00");
  EXPECT_EQ(GetDateTime(60, 1), "01-01-2001 00:01");
}

TEST_F(DateTest, NotesAndCalendarStayCorrectAfter2016) {
  // A 1986 breakdown is 2017, not moved back 13 years.
  EXPECT_EQ(GetDateTime(unixTime(1986, 6, 15, 10, 30), 1), "06-15-2017 10:30");
  EXPECT_EQ(GetDateTime(since2001(2004, 2, 29, 8, 5), 1), "02-29-2004 08:05");
  EXPECT_EQ(GetDateTime(since2001(2016, 2, 29, 12, 34), 1), "02-29-2016 12:34");
  EXPECT_EQ(GetDateTime(since2001(2016, 12, 31, 23, 59), 1), "12-31-2016 23:59");
  EXPECT_EQ(GetDateTime(since2001(2017, 1, 1), 1), "01-01-2017 00:00");
  EXPECT_EQ(GetDateTime(since2001(2020, 2, 29, 7, 0), 1), "02-29-2020 07:00");
  EXPECT_EQ(GetDateTime(since2001(2021, 3, 1), 1), "03-01-2021 00:00");
  EXPECT_EQ(GetDateTime(since2001(2024, 12, 31, 23, 59), 1), "12-31-2024 23:59");
  EXPECT_EQ(GetDateTime(since2001(2100, 3, 1), 1), "03-01-2100 00:00");
}

TEST_F(DateTest, MessagesAcceptBothClocks) {
  // Seconds since 2001 whose 1970 breakdown is before 1990.
  EXPECT_EQ(GetDateTime(unixTime(1979, 7, 5), 0), "07-05-2010 00:00");
  EXPECT_EQ(GetDateTime(unixTime(1986, 6, 15, 10, 30), 0), "06-15-2017 10:30");
  EXPECT_EQ(GetDateTime(since2001(2004, 2, 29, 23, 59), 0), "02-29-2004 23:59");
  EXPECT_EQ(GetDateTime(since2001(2016, 2, 29), 0), "02-29-2016 00:00");
  EXPECT_EQ(GetDateTime(since2001(2020, 12, 31, 23, 59), 0), "12-31-2020 23:59");
  // Seconds since 1970 from 1990 on.
  EXPECT_EQ(GetDateTime(unixTime(2001, 9, 9, 1, 46), 0), "09-09-2001 01:46");
  EXPECT_EQ(GetDateTime(unixTime(1990, 1, 1), 0), "01-01-1990 00:00");
  EXPECT_EQ(GetDateTime(unixTime(2020, 2, 29, 6, 7), 0), "02-29-2020 06:07");
  EXPECT_EQ(GetDateTime(unixTime(2024, 12, 31, 23, 59), 0), "12-31-2024 23:59");
}

TEST_F(DateTest, LargeValuesAreNanosecondsSince2001) {
  for (int kind : {0, 1}) {
    EXPECT_EQ(GetDateTime(kNanosecondStampThreshold, kind), "01-01-2001 00:01");
    EXPECT_EQ(GetDateTime(since2001(2024, 12, 31, 23, 59) * 1000000000LL + 999999999, kind),
              "12-31-2024 23:59");
    EXPECT_EQ(GetDateTime(since2001(2020, 2, 29, 18, 0) * 1000000000LL, kind), "02-29-2020 18:00");
  }
  // Just below the threshold the value is still seconds (far in the future, but a date).
  auto farOff = GetDateTime(kNanosecondStampThreshold - 1, 1);
  ASSERT_TRUE(farOff);
  EXPECT_EQ(farOff->size(), 16u);
}

TEST_F(DateTest, RealMessageDatabaseDate) {
  const std::string path = std::string(TAMSEL_TESTDATA_DIR) +
                           "/ios/ios14-backup/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "sample backup not present";
  sqlite3* db = nullptr;
  const std::string uri = "file:" + path + "?immutable=1";
  ASSERT_EQ(sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
            SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select date from message", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  int64_t stored = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  EXPECT_GE(stored, kNanosecondStampThreshold);
  EXPECT_EQ(GetDateTime(stored, 0), "08-29-2019 23:13");
}

TEST_F(DateTest, UnixTimeText) {
  EXPECT_EQ(formatUnixTime(0), "01-01-1970 00:00");
  EXPECT_EQ(formatUnixTime(unixTime(2016, 2, 29, 9, 3)), "02-29-2016 09:03");
}

}  // namespace
}  // namespace tamsel
