#include "tests/support/host_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "platform/files.h"

namespace testsupport {

bool keepsExtendedAttributes(const fs::path& dir) {
  static std::map<fs::path, bool> known;
  auto it = known.find(dir);
  if (it != known.end()) return it->second;
  const fs::path probe = dir / (".xattr-probe-" + std::to_string(::getpid()));
  bool keeps = false;
  if (std::ofstream(probe).good()) {
    keeps = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    std::error_code ec;
    fs::remove(probe, ec);
  }
  return known[dir] = keeps;
}

uint8_t attributesKept(const platform::Machine& m, char drive, uint8_t attrs) {
  if (m.driveImage(drive)) return attrs;
  auto folder = m.driveFolder(drive);
  if (!folder || keepsExtendedAttributes(*folder)) return attrs;
  if (attrs & platform::kDirectory) return platform::kDirectory;
  return static_cast<uint8_t>((attrs & platform::kReadOnly) | platform::kArchive);
}

}  // namespace testsupport
