#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

#include "runtime/smart_ptr.h"
#include "runtime/text_utils.h"
#include "runtime/time_utils.h"

using namespace orbisan;

TEST(TimeFunctions, FileTimeRoundTripsThroughSystemTime) {
  const SYSTEMTIME t{
      .wYear = 2026, .wMonth = 2, .wDay = 28, .wHour = 23, .wMinute = 59, .wSecond = 58, .wMilliseconds = 123};
  const uint64_t ft = SystemTimeToFileTime64(t);
  // 2026-02-28T23:59:58.123Z in seconds since 1970 is 1772323198.
  EXPECT_EQ(ft, 1772323198ull * 10000000ull + 1230000ull + kFileTimeUnixEpoch);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTimeUtc(ft, back));
  const auto fields = [](const SYSTEMTIME& s) {
    return std::tuple(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
  };
  EXPECT_EQ(fields(back), fields(t));
  EXPECT_EQ(back.wDayOfWeek, 6);  // a Saturday

  SYSTEMTIME bad = t;
  bad.wDay = 29;  // 2026 is not a leap year
  EXPECT_EQ(SystemTimeToFileTime64(bad), 0u);
  bad.wYear = 2024;
  EXPECT_NE(SystemTimeToFileTime64(bad), 0u);
  bad.wMonth = 13;
  EXPECT_EQ(SystemTimeToFileTime64(bad), 0u);
}

TEST(TimeFunctions, ElapsedAndLocalTimeText) {
  const uint64_t now = NowFileTime();
  EXPECT_GT(now, kFileTimeUnixEpoch);
  EXPECT_EQ(ElapsedMsSince(now + 10000000ull), 0u) << "future time";
  EXPECT_GE(ElapsedMsSince(now - 20000000ull), 2000u);
  EXPECT_EQ(FormatLocalTime(0), "");

  setenv("TZ", "UTC", 1);
  tzset();
  const SYSTEMTIME t{.wYear = 2025, .wMonth = 7, .wDay = 4, .wHour = 5, .wMinute = 6, .wSecond = 7, .wMilliseconds = 8};
  EXPECT_EQ(FormatLocalTime(SystemTimeToFileTime64(t)), "2025/07/04 05:06:07.008");

  CTime stamp;
  stamp.Set(NowFileTime() + 50000000ull);
  EXPECT_EQ(stamp.ElapsedMs(), 0u);
  stamp.Set(NowFileTime() - 30000ull);
  EXPECT_GE(stamp.ElapsedMs(), 3u);

  // Intervals do not follow steps of the wall clock (a lost signal faked by a
  // step forward, or hidden by a step back).
  CTime interval;
  const uint64_t wallBefore = interval.Get();
  ShiftWallClockForTesting(36000000000ll);  // one hour forward
  EXPECT_LT(interval.ElapsedMs(), 60000u);
  ShiftWallClockForTesting(-72000000000ll);  // two hours back
  interval.Touch();
  EXPECT_LT(interval.Get(), wallBefore) << "the stamp itself is wall-clock time";
  ShiftWallClockForTesting(36000000000ll);
  EXPECT_LT(interval.ElapsedMs(), 60000u);
  interval.Set(NowFileTime() - 50000000ull);
  EXPECT_GE(interval.ElapsedMs(), 5000u);
  EXPECT_LT(interval.ElapsedMs(), 65000u);
}

TEST(TextFunctions, Utf8AndWideConvertBothWaysAndRejectMalformedInput) {
  const std::string text = "Kamera \xC3\xBC\xE2\x82\xAC \xF0\x9F\x93\xB7";  // ü € 📷
  const std::wstring wide = Utf8ToWide(text);
  ASSERT_EQ(wide.size(), 11u);
  EXPECT_EQ(wide[7], L'\u00FC');
  EXPECT_EQ(static_cast<uint32_t>(wide[10]), 0x1F4F7u);
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("\xC3"), L"") << "truncated sequence";
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"") << "overlong form";
  EXPECT_EQ(Utf8ToWide("a\xFF"), L"");
}

namespace {
struct Counted {
  explicit Counted(int* d) : deleted(d) {}
  virtual ~Counted() { ++*deleted; }
  int* deleted;
};
}  // namespace

TEST(TextFunctions, TrimLowerAndSplit) {
  EXPECT_EQ(Trim(" \t\r\n a b \r\n"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("\r a \t", " \t"), "\r a");
  EXPECT_EQ(ToLower("Hemispheric-\xC3\x84 B"), "hemispheric-\xC3\x84 b");  // bytes past ASCII stay
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(Split(",a,,b c,", ","), (Pieces{"a", "b c"}));
  EXPECT_EQ(Split(",a,,b c,", ", "), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(Split("a;;b;", ";", false), (Pieces{"a", "", "b", ""}));
  EXPECT_EQ(Split("", ";", false), (Pieces{""}));
  EXPECT_EQ(Split("", ";"), Pieces{});
  EXPECT_EQ(Split("abc", ""), (Pieces{"abc"}));
}

TEST(SmartPtr, SharesAndDeletesAtTheLastRelease) {
  int deleted = 0;
  {
    TSmartPtr<Counted> a(new Counted(&deleted));
    TSmartPtr<Counted> b(a);
    TSmartPtr<Counted> c;
    c = b;
    EXPECT_EQ(a.UseCount(), 3);
    b.Release();
    a.Release();
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(c.UseCount(), 1);
    TSmartPtr<Counted> empty;
    TSmartPtr<Counted> copyOfEmpty(empty);
    EXPECT_FALSE(copyOfEmpty);
  }
  EXPECT_EQ(deleted, 1);

  // The count never overflows: holder 128 comes out empty.
  TSmartPtr<Counted> first(new Counted(&deleted));
  std::vector<TSmartPtr<Counted>> holders;
  holders.reserve(200);
  for (int i = 0; i < 130; ++i) holders.push_back(first);
  EXPECT_EQ(first.UseCount(), 127);
  EXPECT_FALSE(holders.back());
  holders.clear();
  first.Release();
  EXPECT_EQ(deleted, 2);
}
