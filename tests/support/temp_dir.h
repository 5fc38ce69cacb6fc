#pragma once
// A folder of its own for one test, removed with everything in it (read-only
// entries included) when the test ends.
#include <filesystem>
#include <string>

namespace testsupport {

namespace fs = std::filesystem;

class TempDir {
 public:
  // prefix: the start of the folder's name, for finding what a crash left.
  explicit TempDir(const std::string& prefix = "brakvel-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Removes a folder tree after giving its owner write access back.
void removeTree(const fs::path& dir);

}  // namespace testsupport
