#pragma once
// The registry backups Windows 98 and ME keep by themselves: rb000.cab ..
// rb002.cab in the Sysbckup folder of the Windows directory, each a cabinet
// of the registry files (Classes.dat first on ME), System.ini and Win.ini as
// they were some days earlier.
#include <cstddef>

#include "platform/machine.h"
#include "platform/registry/key_tree.h"

namespace sysbckup {

// Writes rb000.cab (oldest) to rb002.cab from the machine's current system
// files: the older a backup, the fewer programs its registry lists (the
// Uninstall keys of the later ones left out), and the older its dates.
// rb001.cab lacks User.dat, as a backup made while that hive was locked.
// Missing system files are left out. The hives in them are CREG files.
// Throws platform::Error, or HiveError for a damaged hive.
void writeWindowsBackups(const platform::Machine& m);

// The programs of HKEY_LOCAL_MACHINE's ...\CurrentVersion\Uninstall, and
// an older state of the hive: of them only the first `keep` stay (every
// other key as it is).
size_t programCount(const platform::hive::Key& hklm);
void keepFirstPrograms(platform::hive::Key& hklm, size_t keep);

}  // namespace sysbckup
