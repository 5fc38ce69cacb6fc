#include "tools/sysbckup/sysbckup.h"

#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "cab/stream.h"
#include "cab/writer.h"
#include "platform/files.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"

namespace sysbckup {

namespace {

using platform::hive::Key;

// ...\CurrentVersion\Uninstall of HKEY_LOCAL_MACHINE, when it has one.
Key* uninstallKey(const Key& hklm) {
  Key* k = const_cast<Key*>(&hklm);
  for (const char* name : {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Uninstall"}) {
    k = k->findChild(name);
    if (!k) return nullptr;
  }
  return k;
}

}  // namespace

size_t programCount(const Key& hklm) {
  const Key* u = uninstallKey(hklm);
  return u ? u->childCount() : 0;
}

void keepFirstPrograms(Key& hklm, size_t keep) {
  Key* u = uninstallKey(hklm);
  while (u && u->childCount() > keep) u->removeChildAt(u->childCount() - 1);
}

void writeWindowsBackups(const platform::Machine& m) {
  const std::string winDir = m.env("WinDir").value_or("C:\\WINDOWS");
  const std::string folder = platform::winJoin(winDir, "Sysbckup");
  platform::makeFolder(m, folder);
  // Windows ME keeps HKEY_CLASSES_ROOT in a third hive, and backs it up too.
  const char* members[] = {"Classes.dat", "System.dat", "User.dat", "System.ini", "Win.ini"};
  const platform::hive::HiveId hives[] = {platform::hive::kClassesHive, platform::hive::kSystemHive,
                                          platform::hive::kUserHive};
  std::time_t now = std::time(nullptr);

  for (int n = 0; n < 3; ++n) {
    // rb000 is the oldest: four days back, then three and two.
    platform::DateTime when = platform::DateTime::fromTime(now - (4 - n) * 86400 + 3600 * n);
    std::vector<std::string> texts;  // kept alive while the sources read them
    texts.reserve(std::size(members));
    std::vector<cab::Source> sources;
    for (size_t i = 0; i < std::size(members); ++i) {
      const std::string name = members[i];
      std::string path = platform::winJoin(winDir, name);
      if (!platform::fileExists(m, path)) continue;
      if (n == 1 && name == "User.dat") continue;
      std::string text = platform::readFile(m, path);
      if (i < std::size(hives)) {
        // The hive as a CREG file, whatever form the machine keeps it in.
        platform::hive::Hive h = platform::hive::parseHiveFile(std::move(text), hives[i], path);
        if (hives[i] == platform::hive::kSystemHive)
          keepFirstPrograms(h.top(), programCount(h.top()) * static_cast<size_t>(n + 1) / 4);
        text = platform::hive::cregBytes(h.top());
      }
      texts.push_back(std::move(text));
      cab::Source s;
      s.name = name;
      s.label = path;
      s.data = std::make_unique<cab::MemoryInStream>(texts.back());
      s.year = when.year;
      s.month = when.month;
      s.day = when.day;
      s.hour = when.hour;
      s.minute = when.minute;
      s.second = when.second;
      s.attributes = platform::getAttributes(m, path) &
                     (platform::kReadOnly | platform::kHidden | platform::kSystem | platform::kArchive);
      sources.push_back(std::move(s));
    }
    if (sources.empty()) continue;
    cab::MemoryOutStream out;
    cab::WriteOptions o;
    o.label = "rb00" + std::to_string(n) + ".cab";
    cab::write(sources, out, o);
    std::string cabinet = platform::winJoin(folder, o.label);
    platform::writeFileAtomic(m, cabinet, out.bytes(), platform::kArchive);
    platform::setLastModified(m, cabinet, when);
  }
}

}  // namespace sysbckup
