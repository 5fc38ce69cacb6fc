#pragma once
// What a step put into a working folder (the files "Write to file" gathered,
// the archive "Prepare restoring files" extracted), so that the step after
// it can tell whether the folder still holds exactly that: another screen
// shares the folder and may have written into it since.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace app {

class FileRecord {
 public:
  void clear() { files_.clear(); }
  bool empty() const { return files_.empty(); }
  bool has(const std::string& name) const { return files_.count(name) != 0; }
  // Records the file name of folder as it is now; a file that cannot be
  // read is left out.
  void take(const platform::Machine& m, const std::string& folder, const std::string& name);
  void forget(const std::string& name) { files_.erase(name); }
  // The first recorded name whose file is gone or differs now, or empty
  // text when the folder holds every recorded file as it was.
  std::string changed(const platform::Machine& m, const std::string& folder) const;

 private:
  struct Print {
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Print&) const = default;
  };
  static bool print(const platform::Machine& m, const std::string& path, Print& out);
  std::map<std::string, Print> files_;
};

}  // namespace app
