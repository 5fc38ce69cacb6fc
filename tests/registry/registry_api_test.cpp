// The registry functions against real hive files of a temporary machine.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/error.h"
#include "platform/files.h"
#include "creg_fixture.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/registry.h"
#include "support.h"

using namespace platform::reg;
using platform::hive::isCreg;
using regtest::slurp;
using regtest::TempMachine;
namespace hive = platform::hive;

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

// The hive file as a fresh reader finds it; and libcreg finds the same.
std::string fileDump(const TempMachine& tm, hive::HiveId id) {
  hive::HiveStore store(tm.machine());
  std::string ours = regtest::dumpTree(store.read(id).top());
  regtest::Ran peer = regtest::libcregDump(tm.hive(std::string(hive::kHiveFileName[id]).c_str()));
  EXPECT_EQ(peer.status, 0) << peer.err;
  EXPECT_EQ(peer.out, ours) << "libcreg reads " << hive::kHiveFileName[id] << " otherwise";
  return ours;
}

std::string hex(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    static const char* d = "0123456789abcdef";
    out += d[c >> 4];
    out += d[c & 15];
  }
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
  EXPECT_TRUE(isCreg(slurp(tm.hive("User.dat"))));
  const std::string dump = fileDump(tm, hive::kUserHive);
  EXPECT_TRUE(dump.starts_with("K 0 \nK 1 " + hex(".DEFAULT") + "\n")) << dump;
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_NE(dump.find("V " + hex("v" + std::to_string(i)) + " " + std::to_string(values[i].first) + " " +
                        hex(values[i].second) + "\n"),
              std::string::npos)
        << i;
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
  // Made under Windows' own spelling of the top key.
  EXPECT_EQ(fileDump(tm, hive::kSystemHive), "K 0 \nK 1 " + hex("SOFTWARE") + "\nK 2 " + hex("Classes") + "\nK 3 " +
                                                 hex(".kvt") + "\nV  1 " + hex(sz("Brakvel")) + "\n");
  EXPECT_FALSE(std::filesystem::exists(tm.hive("Classes.dat")));
  EXPECT_EQ(query(r, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.kvt", "")->second, sz("Brakvel"));
}

TEST(RegistryApi, ClassesRootLivesInClassesDatWhenTheMachineHasIt) {
  TempMachine tm(true);
  const std::string systemBefore = slurp(tm.hive("System.dat"));
  Registry r(tm.machine());
  ASSERT_EQ(r.RegSetValue(HKEY_CLASSES_ROOT, "Brakvel\\shell\\open\\command", "x.exe %1"), ERROR_SUCCESS);
  EXPECT_EQ(slurp(tm.hive("System.dat")), systemBefore);
  EXPECT_EQ(fileDump(tm, hive::kClassesHive), "K 0 \nK 1 " + hex("Brakvel") + "\nK 2 " + hex("shell") + "\nK 3 " +
                                                  hex("open") + "\nK 4 " + hex("command") + "\nV  1 " +
                                                  hex(sz("x.exe %1")) + "\n");
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
  EXPECT_EQ(fileDump(tm, hive::kUserHive).substr(0, 9 + 16), "K 0 \nK 1 " + hex(".DEFAULT"));
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

struct DamagedHive {
  const char* what;
  std::string bytes;
  const char* message;
};

TEST(RegistryApi, DamagedHiveIsReportedAndNeverOverwritten) {
  std::string loop = cregfix::realShapedHive();
  cregfix::set32(loop, 64 + 84 + 20, 60);  // SOFTWARE's next sibling: hardware again
  const std::vector<DamagedHive> cases = {
      {"a loop in the key links", loop, "C:\\WINDOWS\\System.dat: offset 168 (0xA8): a loop in the key links"},
      {"cut short", cregfix::realShapedHive().substr(0, 5000), "C:\\WINDOWS\\System.dat: offset 4132 (0x1024): "},
      {"not a registry file", std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(100, '\0'),
       "C:\\WINDOWS\\System.dat: offset 0 (0x0): wrong signature \"MZ\\x90\\x00\""},
      {"an old text hive with a fault",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"ok\"=\"1\"\r\n\"bad\"=hex:0g\r\n",
       "C:\\WINDOWS\\System.dat:5: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine tm;
    std::ofstream(tm.hive("System.dat"), std::ios::binary) << c.bytes;
    Registry r(tm.machine());
    HKEY k = 0;
    EXPECT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, &k), ERROR_BADDB);
    EXPECT_EQ(r.lastError().rfind(c.message, 0), 0u) << r.lastError();
    EXPECT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\New", &k), ERROR_BADDB);
    EXPECT_EQ(r.RegSetValue(HKEY_CLASSES_ROOT, ".kvt", "x"), ERROR_BADDB);
    EXPECT_EQ(r.RegDeleteKey(HKEY_LOCAL_MACHINE, "Software"), ERROR_BADDB);
    EXPECT_TRUE(slurp(tm.hive("System.dat")) == c.bytes);
    // The other hives are unaffected.
    EXPECT_EQ(r.RegSetValue(HKEY_CURRENT_USER, "Fine", "x"), ERROR_SUCCESS);
  }
}

TEST(RegistryApi, WindowsLimitsAreRefusedAndNothingIsWritten) {
  TempMachine tm;
  Registry r(tm.machine());
  HKEY k = 0;
  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + std::string(255, 'n'), &k), ERROR_SUCCESS);
  const std::string before = slurp(tm.hive("System.dat"));
  HKEY bad = 0;
  EXPECT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\" + std::string(256, 'n'), &bad),
            ERROR_INVALID_PARAMETER);
  EXPECT_NE(r.lastError().find("256 characters (Windows 9x allows at most 255)"), std::string::npos) << r.lastError();
  EXPECT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, std::string(300, 'x'), "v"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(r.RegSetValueEx(k, "big", REG_BINARY, std::string(16301, 'b')), ERROR_INVALID_PARAMETER);
  EXPECT_NE(r.lastError().find("16301 bytes of data (Windows 9x allows at most 16300)"), std::string::npos);
  EXPECT_TRUE(slurp(tm.hive("System.dat")) == before);
  HKEY nothing = 0;
  EXPECT_EQ(r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, &nothing), ERROR_FILE_NOT_FOUND);

  for (int i = 0; i < 3; ++i) ASSERT_EQ(r.RegSetValueEx(k, "v" + std::to_string(i), REG_BINARY, std::string(16300, 'b')), 0);
  EXPECT_EQ(r.RegSetValueEx(k, "v3", REG_BINARY, std::string(16300, 'b')), ERROR_INVALID_PARAMETER);
  EXPECT_NE(r.lastError().find("would take"), std::string::npos) << r.lastError();
  EXPECT_EQ(r.RegSetValueEx(k, "v3", REG_BINARY, std::string(12000, 'b')), ERROR_SUCCESS);
  EXPECT_EQ(r.RegSetValueEx(k, "v0", REG_BINARY, std::string(100, 'b')), ERROR_SUCCESS);  // smaller is fine
}

// A machine made before the hives were registry files.
TEST(RegistryApi, TextHivesAreReadAndWrittenBackAsRegistryFiles) {
  TempMachine tm;
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Old]\r\n\"kept\"=\"yes\"\r\n\"raw\"=hex(7):61,00,00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Old\\Deeper]\r\n@=dword:00000002\r\n\r\n[HKEY_LOCAL_MACHINE\\System]\r\n\r\n";
  std::ofstream(tm.hive("System.dat"), std::ios::binary) << text;
  Registry r(tm.machine());
  EXPECT_EQ(query(r, HKEY_LOCAL_MACHINE, "software\\old", "kept")->second, sz("yes"));
  EXPECT_TRUE(slurp(tm.hive("System.dat")) == text);  // reading changes nothing
  ASSERT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\New", "new"), ERROR_SUCCESS);
  EXPECT_TRUE(isCreg(slurp(tm.hive("System.dat"))));
  EXPECT_EQ(fileDump(tm, hive::kSystemHive),
            "K 0 \nK 1 " + hex("Software") + "\nK 2 " + hex("Old") + "\nV " + hex("kept") + " 1 " + hex(sz("yes")) +
                "\nV " + hex("raw") + " 7 610000\nK 3 " + hex("Deeper") + "\nV  4 02000000\nK 2 " + hex("New") +
                "\nV  1 " + hex(sz("new")) + "\nK 1 " + hex("System") + "\n");
}

TEST(RegistryApi, HiveFilesKeepTheirAttributes) {
  // On a disk image, which keeps hidden and system whatever the host is.
  testsupport::TestMachine tm({.layout = testsupport::Layout::EmptyHives, .c = testsupport::DriveForm::Image});
  const auto& m = tm.machine();
  const uint8_t hs = platform::kHidden | platform::kSystem;
  platform::setAttributes(m, "C:\\WINDOWS\\System.dat", hs | platform::kArchive);
  Registry r(m);
  ASSERT_EQ(r.RegSetValue(HKEY_LOCAL_MACHINE, "Software\\A", "x"), ERROR_SUCCESS);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), hs | platform::kArchive);
  Registry fresh(m);
  EXPECT_EQ(query(fresh, HKEY_LOCAL_MACHINE, "Software\\A", ""), std::make_pair(uint32_t{1}, sz("x")));
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
