#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <stdexcept>

namespace testsupport {

TempDir::TempDir(const std::string& prefix) {
  std::string tmpl = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder from " + tmpl);
  path_ = tmpl;
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const fs::path& dir) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir, ec))) return;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(dir, ec);
}

}  // namespace testsupport
