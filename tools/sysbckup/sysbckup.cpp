#include "tools/sysbckup/sysbckup.h"

#include <ctime>
#include <string>
#include <vector>

#include "cab/stream.h"
#include "cab/writer.h"
#include "platform/files.h"
#include "platform/text.h"

namespace sysbckup {

namespace {

// A REGEDIT4 text as its blocks: the header, then one block per key
// (from its "[" line up to the next one).
std::vector<std::string> blocks(const std::string& text) {
  std::vector<std::string> out(1);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    if (text[pos] == '[') out.emplace_back();
    out.back().append(text, pos, end - pos);
    pos = end;
  }
  return out;
}

// The program a key belongs to, when it lies under ...\Uninstall\<program>.
std::string programOf(const std::string& block) {
  std::string header = platform::lowerAnsi(block.substr(0, block.find(']')));
  const std::string marker = "\\currentversion\\uninstall\\";
  size_t at = header.find(marker);
  if (at == std::string::npos) return {};
  std::string rest = header.substr(at + marker.size());
  return rest.substr(0, rest.find('\\'));
}

}  // namespace

size_t programCount(const std::string& regText) {
  std::vector<std::string> seen;
  for (auto& b : blocks(regText)) {
    std::string p = programOf(b);
    if (!p.empty() && (seen.empty() || seen.back() != p)) seen.push_back(p);
  }
  return seen.size();
}

std::string olderHive(const std::string& regText, size_t keep) {
  std::string out;
  std::vector<std::string> kept;
  for (auto& b : blocks(regText)) {
    std::string p = programOf(b);
    if (!p.empty()) {
      bool known = false;
      for (auto& k : kept) known = known || k == p;
      if (!known) {
        if (kept.size() >= keep) continue;
        kept.push_back(p);
      }
    }
    out += b;
  }
  return out;
}

void writeWindowsBackups(const platform::Machine& m) {
  const std::string winDir = m.env("WinDir").value_or("C:\\WINDOWS");
  const std::string folder = platform::winJoin(winDir, "Sysbckup");
  platform::makeFolder(m, folder);
  const char* members[] = {"System.dat", "User.dat", "System.ini", "Win.ini"};
  std::time_t now = std::time(nullptr);

  for (int n = 0; n < 3; ++n) {
    // rb000 is the oldest: four days back, then three and two.
    platform::DateTime when = platform::DateTime::fromTime(now - (4 - n) * 86400 + 3600 * n);
    std::vector<std::string> texts;  // kept alive while the sources read them
    texts.reserve(4);
    std::vector<cab::Source> sources;
    for (const char* name : members) {
      std::string path = platform::winJoin(winDir, name);
      if (!platform::fileExists(m, path)) continue;
      if (n == 1 && std::string(name) == "User.dat") continue;
      std::string text = platform::readFile(m, path);
      if (std::string(name) == "System.dat") {
        size_t programs = programCount(text);
        text = olderHive(text, programs * static_cast<size_t>(n + 1) / 4);
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
