#include "app/modFileExists.h"

#include "platform/files.h"

namespace app {

bool FileExists(const platform::Machine& m, std::string_view path) {
  if (path.empty()) return false;
  platform::DirEnum dir;
  // The registry files are hidden system files: the mask must admit them.
  return !dir.first(m, path, platform::kReadOnly | platform::kHidden | platform::kSystem).empty();
}

}  // namespace app
