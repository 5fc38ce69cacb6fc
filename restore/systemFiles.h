#pragma once
// The system-file set, in the order every operation handles it.
#include <string>
#include <vector>

namespace app {

inline std::vector<std::string> systemFileSet(bool hasClassesDat) {
  std::vector<std::string> set;
  if (hasClassesDat) set.push_back("Classes.dat");
  for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) set.push_back(n);
  return set;
}

}  // namespace app
