#pragma once
// How the command interpreter sees the machine's files. From Windows every
// component may be given long or short; a DOS boot (no VFAT driver) sees
// only the 8.3 names, so "C:\Program Files" does not exist there.
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace command {

enum class Mode { Windows, Dos };

struct Match {
  std::string path;  // as the user would see it: the folder as given + the entry's name
  bool folder = false;
};

class DosPaths {
 public:
  DosPaths(const platform::Machine& m, Mode mode) : m_(m), mode_(mode) {}

  Mode mode() const { return mode_; }

  // A full path ("C:\X\Y") from what a command line gave, relative to cwd
  // (a full folder path such as "A:\"); "." and ".." resolved lexically.
  static std::string absolute(std::string_view given, std::string_view cwd);

  // The entry exists and can be reached under this mode's names.
  bool exists(std::string_view abs) const;
  bool isFile(std::string_view abs) const;
  bool isFolder(std::string_view abs) const;
  // A new file may be created here: its folder is reachable and, in DOS
  // mode, the name is a valid 8.3 name.
  bool creatable(std::string_view abs) const;

  // Entries matching the last component of abs (which may hold * and ?, as
  // platform/dos_pattern.h matches them: in DOS mode on the 8.3 name only),
  // hidden and system entries included; folders only when wanted. Without
  // wildcards: the one entry when it exists.
  std::vector<Match> match(std::string_view abs, bool folders) const;

  // The name the user sees for an existing entry: the short path in DOS
  // mode, the long path from Windows.
  std::string shown(std::string_view abs) const;

 private:
  bool visibleInDos(std::string_view abs) const;

  const platform::Machine& m_;
  Mode mode_;
};

}  // namespace command
