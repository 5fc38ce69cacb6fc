// The registry functions against real hive files of a temporary machine.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/hive.h"
#include "platform/registry.h"
#include "support.h"

using namespace platform::reg;
using regtest::slurp;
using regtest::TempMachine;

namespace {

std::string sz(std::string_view s) { return std::string(s) + '\0'; }

// Reads a value the way the program does: size first, then the data.
std::optional<std::pair<uint32_t, std::string>> query(Registry& r, HKEY root, std::string_view path,
                                                      std::string_view name) {
  HKEY k = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &k) != ERROR_SUCCESS) return std::nullopt;
  uint32_t type = 0, size = 0;
  std::optional<std::pair<uint32_t, std::string>> out;
  if (r.RegQueryValueEx(k, name, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string buf(size, '?');
    EXPECT_EQ(r.RegQueryValueEx(k, name, &type, buf.data(), &size), ERROR_SUCCESS);
    out.emplace(type, buf);
  }
  r.RegCloseKey(k);
  return out;
}

TEST(RegistryApi, OpenEnumerateAndQueryFollowWin32) {
  TempMachine tm;
  Registry r(tm.machine());
  HKEY k = 0;
  EXPECT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Missing", 0x2003F, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k, 0u);

  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Uninstall\\Zeta", &k), ERROR_SUCCESS);
  r.RegCloseKey(k);
  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Uninstall\\Twelve chars", &k), ERROR_SUCCESS);
  ASSERT_EQ(r.RegSetValueEx(k, "DisplayName", REG_SZ, sz("abc")), ERROR_SUCCESS);
  r.RegCloseKey(k);
  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Uninstall\\Alpha", &k), ERROR_SUCCESS);
  r.RegCloseKey(k);

  HKEY u = 0;
  ASSERT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\uninstall", 0x2003F, &u), ERROR_SUCCESS);
  std::string name;
  ASSERT_EQ(r.RegEnumKeyEx(u, 0, &name, 255), ERROR_SUCCESS);
  EXPECT_EQ(name, "Zeta");  // creation order, not sorted
  ASSERT_EQ(r.RegEnumKeyEx(u, 2, &name, 255), ERROR_SUCCESS);
  EXPECT_EQ(name, "Alpha");
  EXPECT_EQ(r.RegEnumKeyEx(u, 3, &name, 255), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(r.RegEnumKeyEx(u, 1, &name, 12), ERROR_MORE_DATA);  // needs room for the NUL
  ASSERT_EQ(r.RegEnumKeyEx(u, 1, &name, 13), ERROR_SUCCESS);
  EXPECT_EQ(name, "Twelve chars");

  HKEY t = 0;
  ASSERT_EQ(r.RegOpenKeyEx(u, "Twelve chars", 0, &t), ERROR_SUCCESS);
  uint32_t type = 0, size = 0;
  ASSERT_EQ(r.RegQueryValueEx(t, "displayname", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4u);  // with the NUL
  char small[3];
  size = sizeof small;
  EXPECT_EQ(r.RegQueryValueEx(t, "DisplayName", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  char buf[1024] = {};
  size = sizeof buf;
  ASSERT_EQ(r.RegQueryValueEx(t, "DisplayName", &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(r.RegQueryValueEx(t, "Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.RegQueryValueEx(t, "", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  std::string vname, data;
  ASSERT_EQ(r.RegEnumValue(t, 0, &vname, &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(vname, "DisplayName");
  EXPECT_EQ(r.RegEnumValue(t, 1, &vname, &type, &data), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(r.RegCloseKey(t), ERROR_SUCCESS);
  EXPECT_EQ(r.RegCloseKey(t), ERROR_INVALID_HANDLE);
  EXPECT_EQ(r.RegEnumKeyEx(t, 0, &name, 255), ERROR_INVALID_HANDLE);
}

TEST(RegistryApi, EveryTypeIsKeptByteForByteInTheFile) {
  TempMachine tm;
  const std::vector<std::pair<uint32_t, std::string>> values = {
      {REG_SZ, sz("text")},
      {REG_SZ, std::string("a\0b\0", 4)},
      {REG_SZ, "no terminator"},
      {REG_SZ, sz("two\r\nlines")},
      {REG_EXPAND_SZ, sz("%WinDir%\\x")},
      {REG_BINARY, std::string("\x00\xff\x80", 3)},
      {REG_DWORD, std::string("\x01\x00\x00\x80", 4)},
      {REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {REG_NONE, ""},
      {0x4242, "odd type"},
  };
  {
    Registry r(tm.machine());
    HKEY k = 0;
    ASSERT_EQ(r.RegCreateKey(HKEY_CURRENT_USER, "Types", &k), ERROR_SUCCESS);
    for (size_t i = 0; i < values.size(); ++i)
      ASSERT_EQ(r.RegSetValueEx(k, "v" + std::to_string(i), values[i].first, values[i].second), ERROR_SUCCESS);
  }
  // A fresh reader takes everything from the file.
  Registry r(tm.machine());
  for (size_t i = 0; i < values.size(); ++i) {
    auto got = query(r, HKEY_USERS, ".Default\\Types", "v" + std::to_string(i));
    ASSERT_TRUE(got) << i;
    EXPECT_EQ(*got, values[i]) << i;
  }
  EXPECT_NE(slurp(tm.hive("User.dat")).find("[HKEY_USERS\\.Default\\Types]"), std::string::npos);
}

TEST(RegistryApi, DeleteKeyTakesItsSubkeysAndValues) {
  TempMachine tm;
  Registry r(tm.machine());
  HKEY k = 0;
  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Deep\\Deeper", &k), ERROR_SUCCESS);
  ASSERT_EQ(r.RegSetValueEx(k, "v", REG_SZ, sz("x")), ERROR_SUCCESS);
  ASSERT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Other", "keep"), ERROR_SUCCESS);

  EXPECT_EQ(r.RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Nothing"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(r.RegDeleteKey(HKEY_LOCAL_MACHINE, "software\\VENDOR\\app"), ERROR_SUCCESS);
  HKEY gone = 0;
  EXPECT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Deep", 0, &gone), ERROR_FILE_NOT_FOUND);
  // The handle to the deleted key finds nothing any more.
  EXPECT_EQ(r.RegSetValueEx(k, "v", REG_SZ, sz("y")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(query(r, HKEY_LOCAL_MACHINE, "Software\\Vendor\\Other", "")->second, sz("keep"));
  std::string text = slurp(tm.hive("System.dat"));
  EXPECT_EQ(text.find("Deep"), std::string::npos);

  ASSERT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Other", 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(r.RegDeleteValue(k, ""), ERROR_SUCCESS);
  EXPECT_EQ(r.RegDeleteValue(k, ""), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.RegDeleteKey(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

TEST(RegistryApi, ClassesRootLivesInSoftwareClassesWithoutClassesDat) {
  TempMachine tm(false);
  Registry r(tm.machine());
  ASSERT_EQ(r.RegSetValue(HKEY_CLASSES_ROOT, ".kvt", "Brakvel"), ERROR_SUCCESS);
  EXPECT_NE(slurp(tm.hive("System.dat")).find("[HKEY_LOCAL_MACHINE\\Software\\Classes\\.kvt]\r\n@=\"Brakvel\""),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(tm.hive("Classes.dat")));
  EXPECT_EQ(query(r, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.kvt", "")->second, sz("Brakvel"));
}

TEST(RegistryApi, ClassesRootLivesInClassesDatWhenTheMachineHasIt) {
  TempMachine tm(true);
  const std::string systemBefore = slurp(tm.hive("System.dat"));
  Registry r(tm.machine());
  ASSERT_EQ(r.RegSetValue(HKEY_CLASSES_ROOT, "Brakvel\\shell\\open\\command", "x.exe %1"), ERROR_SUCCESS);
  EXPECT_EQ(slurp(tm.hive("System.dat")), systemBefore);
  EXPECT_NE(slurp(tm.hive("Classes.dat")).find("[HKEY_CLASSES_ROOT\\Brakvel\\shell\\open\\command]"),
            std::string::npos);
  // HKEY_LOCAL_MACHINE\Software\Classes is the same place.
  EXPECT_EQ(query(r, HKEY_LOCAL_MACHINE, "Software\\Classes\\Brakvel\\shell\\open\\command", "")->second,
            sz("x.exe %1"));
  ASSERT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\Classes\\.kvt", "Brakvel"), ERROR_SUCCESS);
  EXPECT_EQ(query(r, HKEY_CLASSES_ROOT, ".kvt", "")->second, sz("Brakvel"));
  EXPECT_EQ(slurp(tm.hive("System.dat")), systemBefore);
}

TEST(RegistryApi, CurrentUserIsTheDefaultUserInUserDat) {
  TempMachine tm;
  Registry r(tm.machine());
  ASSERT_EQ(r.RegSetValue(HKEY_CURRENT_USER, "Control Panel\\International", "x"), ERROR_SUCCESS);
  EXPECT_EQ(query(r, HKEY_USERS, ".DEFAULT\\Control Panel\\International", "")->second, sz("x"));
  EXPECT_NE(slurp(tm.hive("User.dat")).find("[HKEY_USERS\\.Default\\Control Panel\\International]"),
            std::string::npos);
}

TEST(RegistryApi, AReaderSeesWhatAnotherWriterChanged) {
  TempMachine tm;
  Registry reader(tm.machine()), writer(tm.machine());
  ASSERT_EQ(writer.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\A", "one"), ERROR_SUCCESS);
  EXPECT_EQ(query(reader, HKEY_LOCAL_MACHINE, "Software\\A", "")->second, sz("one"));
  ASSERT_EQ(writer.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\A", "two"), ERROR_SUCCESS);
  EXPECT_EQ(query(reader, HKEY_LOCAL_MACHINE, "Software\\A", "")->second, sz("two"));
  // A write starts from the file, not from the writer's older copy.
  ASSERT_EQ(reader.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\B", "b"), ERROR_SUCCESS);
  ASSERT_EQ(writer.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\C", "c"), ERROR_SUCCESS);
  Registry fresh(tm.machine());
  EXPECT_TRUE(query(fresh, HKEY_LOCAL_MACHINE, "Software\\B", ""));
  EXPECT_TRUE(query(fresh, HKEY_LOCAL_MACHINE, "Software\\C", ""));
}

TEST(RegistryApi, DamagedHiveIsReportedAndNeverOverwritten) {
  TempMachine tm;
  const std::string damaged =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"ok\"=\"1\"\r\n\"bad\"=hex:0g\r\n";
  std::ofstream(tm.hive("System.dat"), std::ios::binary) << damaged;
  Registry r(tm.machine());
  HKEY k = 0;
  EXPECT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, &k), ERROR_BADDB);
  EXPECT_NE(r.lastError().find("C:\\WINDOWS\\System.dat:5:"), std::string::npos) << r.lastError();
  EXPECT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\New", &k), ERROR_BADDB);
  EXPECT_EQ(r.RegSetValue(HKEY_CLASSES_ROOT, ".kvt", "x"), ERROR_BADDB);
  EXPECT_EQ(slurp(tm.hive("System.dat")), damaged);
  // The other hives are unaffected.
  EXPECT_EQ(r.RegSetValue(HKEY_CURRENT_USER, "Fine", "x"), ERROR_SUCCESS);
}

TEST(RegistryApi, HiveFilesKeepTheirAttributes) {
  TempMachine tm;
  const auto& m = tm.machine();
  const uint8_t hs = platform::kHidden | platform::kSystem;
  try {
    platform::setAttributes(m, "C:\\WINDOWS\\System.dat", hs | platform::kArchive);
  } catch (const platform::Error&) {
    GTEST_SKIP() << "this file system keeps no DOS attributes";
  }
  if ((platform::getAttributes(m, "C:\\WINDOWS\\System.dat") & hs) != hs)
    GTEST_SKIP() << "this file system keeps no DOS attributes";
  Registry r(m);
  ASSERT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\A", "x"), ERROR_SUCCESS);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat") & hs, hs);
}

TEST(RegistryApi, ShellNotificationsAreCounted) {
  TempMachine tm;
  EXPECT_EQ(changeNotifyCount(tm.machine(), SHCNE_ASSOCCHANGED), 0);
  SHChangeNotify(tm.machine(), SHCNE_ASSOCCHANGED, 0);
  SHChangeNotify(tm.machine(), 0x2, 0);
  SHChangeNotify(tm.machine(), SHCNE_ASSOCCHANGED, 0);
  EXPECT_EQ(changeNotifyCount(tm.machine(), SHCNE_ASSOCCHANGED), 2);
  EXPECT_EQ(changeNotifyCount(tm.machine(), 0x2), 1);
}

}  // namespace
