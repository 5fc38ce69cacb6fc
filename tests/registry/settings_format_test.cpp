// Preferences and the user's date and time formats.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry/registry.h"
#include "support.h"

using namespace platform;
using regtest::TempMachine;

namespace {

TEST(Settings, DefaultUntilSavedThenTheSavedText) {
  TempMachine tm;
  const auto& m = tm.machine();
  EXPECT_EQ(GetSetting(m, "Brakvel 9x", "Options", "Show Intro", "1"), "1");
  EXPECT_EQ(GetSetting(m, "Brakvel 9x", "Options", "Show Intro"), "");
  SaveSetting(m, "Brakvel 9x", "Options", "Show Intro", "0");
  SaveSetting(m, "Brakvel 9x", "Options", "Show Tips at Startup", "1");
  EXPECT_EQ(GetSetting(m, "Brakvel 9x", "Options", "Show Intro", "1"), "0");
  EXPECT_EQ(GetSetting(m, "brakvel 9X", "OPTIONS", "show intro", "1"), "0");
  EXPECT_EQ(GetSetting(m, "Other", "Options", "Show Intro", "1"), "1");

  // Where a classic program keeps them, as plain text.
  reg::Registry r(m);
  reg::HKEY k = 0;
  ASSERT_EQ(r.RegOpenKeyEx(reg::HKEY_USERS,
                           ".Default\\Software\\VB and VBA Program Settings\\Brakvel 9x\\Options", 0, &k),
            reg::ERROR_SUCCESS);
  uint32_t type = 0, size = 0;
  ASSERT_EQ(r.RegQueryValueEx(k, "Show Intro", &type, nullptr, &size), reg::ERROR_SUCCESS);
  EXPECT_EQ(type, reg::REG_SZ);
  EXPECT_EQ(size, 2u);
}

TEST(Settings, AValueOfAnotherTypeReadsAsTheDefault) {
  TempMachine tm;
  reg::Registry r(tm.machine());
  reg::HKEY k = 0;
  ASSERT_EQ(r.RegCreateKey(reg::HKEY_CURRENT_USER, "Software\\VB and VBA Program Settings\\App\\S", &k), 0);
  ASSERT_EQ(r.RegSetValueEx(k, "n", reg::REG_DWORD, std::string("\0\0\0\0", 4)), 0);
  ASSERT_EQ(r.RegSetValueEx(k, "cut", reg::REG_SZ, std::string("ab\0cd\0", 6)), 0);
  EXPECT_EQ(GetSetting(tm.machine(), "App", "S", "n", "dflt"), "dflt");
  EXPECT_EQ(GetSetting(tm.machine(), "App", "S", "cut", "dflt"), "ab");
}

struct FormatCase {
  const char* shortDate;  // nullptr: absent
  const char* timeFormat;
  DateTime t;
  const char* date;
  const char* time;
  const char* both;
};

TEST(Formats, PictureElementsAndDefaults) {
  const std::vector<FormatCase> cases = {
      {nullptr, nullptr, {2004, 3, 7, 13, 5, 9}, "3/7/2004", "1:05:09 PM", "3/7/2004 1:05:09 PM"},
      {nullptr, nullptr, {1999, 12, 31, 0, 0, 0}, "12/31/1999", "12:00:00 AM", "12/31/1999"},
      {nullptr, nullptr, {2000, 1, 1, 0, 0, 1}, "1/1/2000", "12:00:01 AM", "1/1/2000 12:00:01 AM"},
      {"dd.MM.yy", "HH:mm:ss", {2004, 3, 7, 9, 5, 9}, "07.03.04", "09:05:09", "07.03.04 09:05:09"},
      {"d/M/y", "H:m:s", {2005, 3, 7, 9, 5, 9}, "7/3/5", "9:5:9", "7/3/5 9:5:9"},
      {"yyyy-MM-dd", "hh:mm t", {2004, 11, 27, 23, 59, 0}, "2004-11-27", "11:59 P", "2004-11-27 11:59 P"},
      {"dddd, MMMM d", "h 'o''clock' tt", {2004, 3, 7, 12, 0, 0}, "Sunday, March 7", "12 o'clock PM",
       "Sunday, March 7 12 o'clock PM"},
      {"ddd d MMM yyyy", "'h'h", {1998, 6, 25, 8, 0, 0}, "Thu 25 Jun 1998", "h8", "Thu 25 Jun 1998 h8"},
  };
  for (const auto& c : cases) {
    TempMachine tm;
    reg::Registry r(tm.machine());
    reg::HKEY k = 0;
    ASSERT_EQ(r.RegCreateKey(reg::HKEY_CURRENT_USER, "Control Panel\\International", &k), 0);
    if (c.shortDate) r.RegSetValueEx(k, "sShortDate", reg::REG_SZ, std::string(c.shortDate) + '\0');
    if (c.timeFormat) r.RegSetValueEx(k, "sTimeFormat", reg::REG_SZ, std::string(c.timeFormat) + '\0');
    EXPECT_EQ(formatShortDate(tm.machine(), c.t), c.date) << (c.shortDate ? c.shortDate : "default");
    EXPECT_EQ(formatTime(tm.machine(), c.t), c.time) << (c.timeFormat ? c.timeFormat : "default");
    EXPECT_EQ(formatDateTime(tm.machine(), c.t), c.both);
  }
}

TEST(Formats, DesignatorsComeFromInternational) {
  TempMachine tm;
  reg::Registry r(tm.machine());
  reg::HKEY k = 0;
  ASSERT_EQ(r.RegCreateKey(reg::HKEY_CURRENT_USER, "Control Panel\\International", &k), 0);
  r.RegSetValueEx(k, "s1159", reg::REG_SZ, std::string("vorm.") + '\0');
  r.RegSetValueEx(k, "s2359", reg::REG_SZ, std::string("nachm.") + '\0');
  EXPECT_EQ(formatTime(tm.machine(), DateTime{2004, 1, 1, 1, 2, 3}), "1:02:03 vorm.");
  EXPECT_EQ(formatTime(tm.machine(), DateTime{2004, 1, 1, 13, 2, 3}), "1:02:03 nachm.");
}

}  // namespace
