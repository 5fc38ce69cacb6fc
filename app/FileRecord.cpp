#include "app/FileRecord.h"

#include "platform/error.h"
#include "platform/files.h"

namespace app {

bool FileRecord::print(const platform::Machine& m, const std::string& path, Print& out) {
  std::string bytes;
  try {
    if (!platform::fileExists(m, path)) return false;
    bytes = platform::readFile(m, path);
  } catch (const platform::Error&) {
    return false;
  }
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  out = {bytes.size(), h};
  return true;
}

void FileRecord::take(const platform::Machine& m, const std::string& folder, const std::string& name) {
  Print p;
  if (print(m, folder + "\\" + name, p)) {
    files_[name] = p;
  } else {
    files_.erase(name);
  }
}

std::string FileRecord::changed(const platform::Machine& m, const std::string& folder) const {
  for (const auto& [name, recorded] : files_) {
    Print now;
    if (!print(m, folder + "\\" + name, now) || !(now == recorded)) return name;
  }
  return {};
}

}  // namespace app
