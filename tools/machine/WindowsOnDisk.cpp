#include "tools/machine/WindowsOnDisk.h"

#include <stdexcept>
#include <vector>

#include "platform/error.h"
#include "platform/fat/fat_volume.h"
#include "platform/lines.h"
#include "platform/text.h"

namespace machine_tool {

namespace fs = std::filesystem;

namespace {

std::string trim(std::string_view s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  size_t b = s.find_last_not_of(" \t");
  return std::string(s.substr(a, b - a + 1));
}

// WinDir= of MSDOS.SYS's [Paths], where Windows 9x says where it lives.
std::string winDirOf(platform::Volume& v) {
  auto e = v.find("MSDOS.SYS");
  if (!e || e->isFolder() || e->size > 65536) return {};
  std::string section;
  for (const std::string& raw : platform::splitLines(v.readAll("MSDOS.SYS"))) {
    std::string line = trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = trim(line.substr(1, line.size() - 2));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || !platform::equalsNoCase(section, "Paths")) continue;
    if (platform::equalsNoCase(trim(line.substr(0, eq)), "WinDir")) return trim(line.substr(eq + 1));
  }
  return {};
}

}  // namespace

WindowsOnDisk findWindows(const fs::path& image, bool askedMe) {
  const std::string name = image.string();
  std::unique_ptr<platform::fat::FatVolume> v;
  try {
    v = platform::fat::FatVolume::openImage(image, {"C:", false, std::chrono::milliseconds(60000)});
  } catch (const platform::Error& e) {
    if (e.number() == platform::kDiskNotReady) throw std::runtime_error(name + ": no such disk image");
    throw std::runtime_error(platform::ansiToUtf8(e.what()));
  }
  if (v->writeProtected()) {
    throw std::runtime_error(name + ": the image is read-only; the program and its tools are installed into "
                             "it, so it must be writable");
  }
  WindowsOnDisk found;
  found.winDir = "C:\\WINDOWS";
  std::string named = winDirOf(*v);
  if (named.size() > 3 && platform::equalsNoCase(named.substr(0, 3), "C:\\")) found.winDir = named;
  const std::string rel = found.winDir.substr(3);
  const std::string shown = platform::ansiToUtf8(found.winDir);
  auto folder = v->find(rel);
  if (!folder || !folder->isFolder()) {
    throw std::runtime_error(name + ": holds no Windows folder " + shown +
                             " (a Windows 98 or ME disk has one, with WIN.INI, SYSTEM.INI, SYSTEM.DAT "
                             "and USER.DAT)");
  }
  found.me = askedMe || v->find(rel + "\\CLASSES.DAT").has_value();
  std::vector<std::string> wanted{"WIN.INI", "SYSTEM.INI", "SYSTEM.DAT", "USER.DAT"};
  if (found.me) wanted.push_back("CLASSES.DAT");
  std::vector<std::string> missing, notHives;
  for (const std::string& file : wanted) {
    auto e = v->find(rel + "\\" + file);
    if (!e || e->isFolder()) {
      missing.push_back(file);
      continue;
    }
    if (file.ends_with(".DAT")) {
      std::string head(4, '\0');
      auto r = v->open(rel + "\\" + file);
      head.resize(r->readAt(0, head.data(), head.size()));
      if (head != "CREG") notHives.push_back(file);
    }
  }
  auto join = [](const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + names[i];
    return out;
  };
  if (!missing.empty()) {
    throw std::runtime_error(name + ": the Windows folder " + shown + " lacks " + join(missing) +
                             (askedMe && found.me && missing.back() == "CLASSES.DAT"
                                  ? " (Windows ME keeps CLASSES.DAT; leave out --me for Windows 98)"
                                  : ""));
  }
  if (!notHives.empty()) {
    throw std::runtime_error(name + ": " + join(notHives) + " in " + shown +
                             " is not a Windows 9x registry file (CREG)");
  }
  return found;
}

}  // namespace machine_tool
