#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry/registry.h"
#include "tests/support/test_machine.h"
#include "tools/msinfo32/SystemReport.h"

using namespace platform::reg;
using TempMachine = testsupport::TestMachine;

namespace {

void setText(Registry& r, const std::string& key, const std::string& name, uint32_t type,
             const std::string& text) {
  HKEY h = 0;
  ASSERT_EQ(r.RegCreateKey(HKEY_LOCAL_MACHINE, key, &h), ERROR_SUCCESS);
  ASSERT_EQ(r.RegSetValueEx(h, name, type, text + std::string(1, '\0')), ERROR_SUCCESS);
  r.RegCloseKey(h);
}

}  // namespace

TEST(SystemReportTest, ShowsVersionFolderDrivesRegistryAndPrograms) {
  TempMachine tm;
  const auto m = tm.open();
  {
    Registry r(m);
    const std::string cv = "Software\\Microsoft\\Windows\\CurrentVersion";
    setText(r, cv, "ProductName", REG_SZ, "Microsoft Windows 98");
    setText(r, cv, "VersionNumber", REG_SZ, "4.10.2222");
    setText(r, cv + "\\Uninstall\\WinZip", "DisplayName", REG_SZ, "WinZip 8.0");
    setText(r, cv + "\\Uninstall\\NoName", "UninstallString", REG_SZ, "x.exe");
    setText(r, cv + "\\Uninstall\\Office", "DisplayName", REG_EXPAND_SZ, "Microsoft Office 97");
  }
  const std::string report = msinfo::systemReport(m);
  EXPECT_NE(report.find("Operating system:  Microsoft Windows 98 4.10.2222\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Windows folder:    C:\\WINDOWS\n"), std::string::npos);
  EXPECT_NE(report.find("  A:  3 1/2 inch floppy, "), std::string::npos);
  EXPECT_NE(report.find("  C:  fixed disk, "), std::string::npos);
  // Written by the registry above; its size shows with thousands grouped.
  const auto at = report.find("  System.dat   ");
  ASSERT_NE(at, std::string::npos) << report;
  EXPECT_EQ(report.compare(report.find('\n', at) - 6, 6, " bytes"), 0);
  EXPECT_NE(report.find("Installed programs:\n  WinZip 8.0\n  Microsoft Office 97\n"), std::string::npos)
      << report;
}
