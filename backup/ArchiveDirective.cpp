#include "backup/ArchiveDirective.h"

#include "platform/files.h"

namespace backup {

namespace {
constexpr const char* kCrLf = "\r\n";

std::string inQuotes(std::string_view path) { return "\"" + std::string(path) + "\""; }
}  // namespace

std::vector<std::string> systemFileSet(bool hasClassesDat) {
  std::vector<std::string> set;
  if (hasClassesDat) set.emplace_back("Classes.dat");
  for (const char* name : {"System.dat", "User.dat", "System.ini", "Win.ini"}) set.emplace_back(name);
  return set;
}

std::string kvtBatText(std::string_view programFolder) {
  const std::string p(programFolder);
  return std::string("@Echo Off") + kCrLf + inQuotes(p + "\\util\\Makecab.exe") + " /f " +
         inQuotes(p + "\\util\\kvt.ddf") + kCrLf;
}

std::string kvtDdfText(std::string_view programFolder, std::string_view backupName, bool hasClassesDat) {
  const std::string p(programFolder);
  const char* head[] = {
      ".OPTION EXPLICIT",
      ".Set Cabinet=on",
      ".set Compress=on",
      ".Set MaxDiskSize=CDROM",
      ".set ReservePerCabinetSize=6144",
  };
  std::string text;
  for (const char* line : head) text += std::string(line) + kCrLf;
  // The folder is not quoted, even with blanks in it.
  text += ".Set DiskDirectoryTemplate=" + p + "\\archive" + kCrLf;
  text += std::string(".Set CompressionType=MSZip") + kCrLf;
  text += std::string(".Set CompressionLevel=7") + kCrLf;
  text += std::string(".Set CompressionMemory=21") + kCrLf;
  text += ".Set CabinetNameTemplate=" + std::string(backupName) + ".kvt" + kCrLf;
  for (const std::string& name : systemFileSet(hasClassesDat)) text += inQuotes(p + "\\Exchange\\" + name) + kCrLf;
  text += inQuotes(p + "\\Exchange\\info.txt") + kCrLf;
  return text;
}

std::string backupNameProblem(std::string_view name) {
  if (name.empty()) return "Please enter a name for the backup file .";
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32) return "The backup file name contains a control character , which cannot stand in a file name .";
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      return std::string("The backup file name contains the character ") + c +
             " , which cannot stand in a file name .";
  }
  if (name.front() == ' ' || name.back() == ' ')
    return "The backup file name must not begin or end with a blank .";
  // CON.kvt, NUL.old.kvt: Windows opens the device, not a file.
  if (!platform::deviceNameOf(name).empty())
    return "The backup file name " + std::string(name) + " is the name of a device , which cannot stand as a file name .";
  return {};
}

}  // namespace backup
