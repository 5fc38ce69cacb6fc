#pragma once
// The two files MakeCAB writes into PROGRAM\util: the cabinet maker's
// directive kvt.ddf and the batch file kvt.bat that runs it, and the
// system-file set they archive.
#include <string>
#include <string_view>
#include <vector>

namespace backup {

// Classes.dat (when the machine has it), System.dat, User.dat, System.ini,
// Win.ini: always in this order.
std::vector<std::string> systemFileSet(bool hasClassesDat);

// kvt.bat: "@Echo Off" and the quoted Makecab.exe with "/f" and the quoted
// directive, CR LF after each line.
std::string kvtBatText(std::string_view programFolder);

// kvt.ddf for the archive name + ".kvt" in PROGRAM\archive, taking the set
// and info.txt from PROGRAM\Exchange.
std::string kvtDdfText(std::string_view programFolder, std::string_view backupName, bool hasClassesDat);

// Why name cannot be used for an archive (empty, a character that cannot
// stand in a file name, a blank at either end), or empty text when it can.
std::string backupNameProblem(std::string_view name);

}  // namespace backup
