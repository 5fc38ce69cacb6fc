#pragma once
// The registry backups Windows 98 keeps by itself: rb000.cab .. rb002.cab in
// the Sysbckup folder of the Windows directory, each a cabinet of System.dat,
// User.dat, System.ini and Win.ini as they were some days earlier.
#include "platform/machine.h"

namespace sysbckup {

// Writes rb000.cab (oldest) to rb002.cab from the machine's current system
// files: the older a backup, the fewer programs its registry lists (the
// Uninstall keys of the later ones left out), and the older its dates.
// rb001.cab lacks User.dat, as a backup made while that hive was locked.
// Missing system files are left out. Throws platform::Error.
void writeWindowsBackups(const platform::Machine& m);

// The registry text of an older state: of the n program keys under
// ...\CurrentVersion\Uninstall only the first `keep` stay (other keys stay
// as they are).
std::string olderHive(const std::string& regText, size_t keep);
size_t programCount(const std::string& regText);

}  // namespace sysbckup
