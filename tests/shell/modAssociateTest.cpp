#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "shell/modAssociate.h"
#include "tests/support/test_machine.h"

using namespace platform::reg;
using TempMachine = testsupport::TestMachine;

namespace {

std::vector<std::string> subkeys(Registry& r, HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &h) != ERROR_SUCCESS) return names;
  std::string name;
  for (uint32_t i = 0; r.RegEnumKeyEx(h, i, &name, 1024) == ERROR_SUCCESS; ++i) names.push_back(name);
  r.RegCloseKey(h);
  return names;
}

void setValue(Registry& r, HKEY root, const std::string& key, const std::string& name, uint32_t type,
              const std::string& data) {
  HKEY h = 0;
  ASSERT_EQ(r.RegCreateKey(root, key, &h), ERROR_SUCCESS);
  ASSERT_EQ(r.RegSetValueEx(h, name, type, data), ERROR_SUCCESS);
  r.RegCloseKey(h);
}

std::string dword(uint32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

const std::string kFolder = "C:\\Program Files\\Brakvel 9x";

class AssociateTest : public ::testing::Test {
 protected:
  TempMachine tm_;
  platform::Machine m_ = tm_.open();
  Registry reg_{m_};

  std::string read(const std::string& key, const std::string& name = "") {
    return shell::ReadKeyValue(reg_, HKEY_CLASSES_ROOT, key, name);
  }
  long notified() { return changeNotifyCount(m_, SHCNE_ASSOCCHANGED); }
};

}  // namespace

TEST_F(AssociateTest, FirstStartWritesTheFourEntriesInOrderAndNotifiesOnce) {
  shell::FileAssociate(m_, reg_, kFolder, "Brakvel 9x");
  EXPECT_EQ(read("Brakvel"), "System backup file");
  EXPECT_EQ(read(".kvt"), "Brakvel");
  EXPECT_EQ(read("Brakvel\\shell\\open\\command"), kFolder + "\\Brakvel 9x.exe %1");
  EXPECT_EQ(read("Brakvel\\DefaultIcon"), kFolder + "\\sysarchive.ico");
  EXPECT_EQ(notified(), 1);
  const auto top = subkeys(reg_, HKEY_CLASSES_ROOT, "");
  const auto brakvel = std::find(top.begin(), top.end(), "Brakvel");
  const auto kvt = std::find(top.begin(), top.end(), ".kvt");
  ASSERT_NE(brakvel, top.end());
  ASSERT_NE(kvt, top.end());
  EXPECT_LT(brakvel, kvt);
  EXPECT_EQ(subkeys(reg_, HKEY_CLASSES_ROOT, "Brakvel"),
            (std::vector<std::string>{"shell", "DefaultIcon"}));
}

TEST_F(AssociateTest, ExistingTextOfTheExtensionKeepsEverything) {
  for (const std::string owner : {"Brakvel", "WinZip"}) {
    setValue(reg_, HKEY_CLASSES_ROOT, ".kvt", "", REG_SZ, owner + std::string(1, '\0'));
    shell::FileAssociate(m_, reg_, kFolder, "Brakvel 9x");
    EXPECT_EQ(read(".kvt"), owner);
    EXPECT_EQ(read("Brakvel"), "");
    EXPECT_EQ(notified(), 0);
  }
}

TEST_F(AssociateTest, EmptyOrUnreadableExtensionValueRegistersAgain) {
  struct Case {
    uint32_t type;
    std::string data;
    std::string reads;
    bool registers;
  };
  const Case cases[] = {
      {REG_SZ, std::string(1, '\0'), "", true},
      {REG_BINARY, "\x01\x02", "", true},
      {REG_DWORD, dword(1234567), "1234567", false},
      {REG_EXPAND_SZ, std::string("%WinDir%\0x", 10), "%WinDir%", false},
  };
  long before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    setValue(reg_, HKEY_CLASSES_ROOT, ".kvt", "", c.type, c.data);
    EXPECT_EQ(read(".kvt"), c.reads);
    shell::FileAssociate(m_, reg_, kFolder, "Brakvel 9x");
    EXPECT_EQ(notified() - before, c.registers ? 1 : 0);
    before = notified();
  }
}

TEST_F(AssociateTest, DriveRootFolder) {
  shell::FileAssociate(m_, reg_, "C:\\", "Brakvel 9x");
  EXPECT_EQ(read("Brakvel\\shell\\open\\command"), "C:\\Brakvel 9x.exe %1");
  EXPECT_EQ(read("Brakvel\\DefaultIcon"), "C:\\\\sysarchive.ico");
}

TEST_F(AssociateTest, CreateAssociationArguments) {
  shell::CreateAssociation(m_, reg_, kFolder, "Brakvel 9x", "", ".kvt", "x", "y", "");
  EXPECT_EQ(read(".kvt"), "");
  EXPECT_EQ(notified(), 0) << "an empty class name does nothing at all";

  shell::CreateAssociation(m_, reg_, kFolder, "Brakvel 9x", "Other", ".oth", "Other file", "",
                           "  /open \"%1\"  ");
  EXPECT_EQ(read("Other\\shell\\open\\command"), kFolder + "\\Brakvel 9x.exe /open \"%1\"");
  EXPECT_EQ(subkeys(reg_, HKEY_CLASSES_ROOT, "Other"), std::vector<std::string>{"shell"})
      << "no icon path, no DefaultIcon key";
}

TEST_F(AssociateTest, ReadKeyValueMissingThings) {
  EXPECT_EQ(shell::ReadKeyValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Nowhere", ""), "");
  setValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Vantrel", "Name", REG_SZ, std::string("abc\0def\0", 8));
  EXPECT_EQ(shell::ReadKeyValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Vantrel", "Name"), "abc");
  EXPECT_EQ(shell::ReadKeyValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Vantrel", "Other"), "");
  // Longer than the 1024-byte buffer: the query fails, the value reads empty.
  setValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Vantrel", "Long", REG_SZ, std::string(2000, 'x'));
  EXPECT_EQ(shell::ReadKeyValue(reg_, HKEY_LOCAL_MACHINE, "Software\\Vantrel", "Long"), "");
}

TEST(ImportCommandTest, CommandLineAndStartFailureText) {
  EXPECT_EQ(shell::importCommandLine("C:\\PROGRA~1\\BRAKVE~1\\UTIL\\ANTISPY.REG"),
            "regedit.exe /s C:\\PROGRA~1\\BRAKVE~1\\UTIL\\ANTISPY.REG");
  EXPECT_EQ(shell::importStartFailureText(53, "File not found", "C:\\X.REG"),
            "Error # 53 File not found\r\nWith: C:\\X.REG");
}
