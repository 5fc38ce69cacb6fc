#include "SystemReport.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"

namespace msinfo {

namespace {

using namespace platform::reg;

std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

// A text value without its terminating zero; empty when absent.
std::string readText(Registry& r, HKEY root, const std::string& key, const std::string& name) {
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, key, 0x20019, &h) != ERROR_SUCCESS) return {};
  uint32_t type = 0;
  uint32_t size = 0;
  std::string value;
  if (r.RegQueryValueEx(h, name, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> data(size);
    if (r.RegQueryValueEx(h, name, &type, data.data(), &size) == ERROR_SUCCESS) {
      value.assign(data.data(), size);
      const auto nul = value.find('\0');
      if (nul != std::string::npos) value.resize(nul);
    }
  }
  r.RegCloseKey(h);
  return value;
}

std::vector<std::string> installedPrograms(Registry& r) {
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  std::vector<std::string> names;
  HKEY h = 0;
  if (r.RegOpenKeyEx(HKEY_LOCAL_MACHINE, uninstall, 0x20019, &h) != ERROR_SUCCESS) return names;
  for (uint32_t i = 0;; ++i) {
    std::string sub;
    const long rc = r.RegEnumKeyEx(h, i, &sub, 1024);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    const std::string name = readText(r, HKEY_LOCAL_MACHINE, uninstall + "\\" + sub, "DisplayName");
    if (!name.empty()) names.push_back(name);
  }
  r.RegCloseKey(h);
  return names;
}

}  // namespace

std::string systemReport(const platform::Machine& m) {
  std::string out = "System Information\n\n";
  Registry r(m);

  const std::string current = "Software\\Microsoft\\Windows\\CurrentVersion";
  std::string product = readText(r, HKEY_LOCAL_MACHINE, current, "ProductName");
  std::string version = readText(r, HKEY_LOCAL_MACHINE, current, "VersionNumber");
  if (product.empty()) {
    const std::string v = m.ini("Machine", "Version").value_or("98");
    product = (v == "ME" || v == "me") ? "Microsoft Windows ME" : "Microsoft Windows 98";
  }
  out += "Operating system:  " + product + (version.empty() ? "" : " " + version) + "\n";
  const std::string winDir = m.env("WinDir").value_or("");
  out += "Windows folder:    " + (winDir.empty() ? std::string("(WinDir is not set)") : winDir) + "\n\n";

  out += "Drives:\n";
  for (char letter : m.drives()) {
    std::string line = std::string("  ") + letter + ":  ";
    try {
      const uint64_t free = platform::freeSpace(m, letter);
      line += (m.isFloppy(letter) ? "3 1/2 inch floppy, " : "fixed disk, ") + grouped(free) + " bytes free";
    } catch (const platform::Error&) {
      line += m.isFloppy(letter) ? "3 1/2 inch floppy, no disk" : "not ready";
    }
    out += line + "\n";
  }

  out += "\nRegistry files:\n";
  for (const char* name : {"Classes.dat", "System.dat", "User.dat"}) {
    if (winDir.empty()) break;
    const std::string path = platform::winJoin(winDir, name);
    if (!platform::fileExists(m, path)) continue;
    std::string padded = name;
    padded.resize(13, ' ');
    out += "  " + padded + grouped(platform::fileSize(m, path)) + " bytes\n";
  }

  out += "\nInstalled programs:\n";
  const auto programs = installedPrograms(r);
  if (programs.empty()) out += "  (none registered)\n";
  for (const auto& p : programs) out += "  " + p + "\n";
  return out;
}

}  // namespace msinfo
