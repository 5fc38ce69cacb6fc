#include "app/modReplaceFiles.h"

namespace app {

std::string ShortPath(const platform::Machine& m, std::string_view path) {
  constexpr size_t kBuffer = 165;
  std::string s = m.shortPath(path);
  // Too long for the buffer: GetShortPathName reports the size it would
  // need and writes nothing, so the caller gets nothing.
  if (s.size() >= kBuffer) return {};
  return s;
}

}  // namespace app
