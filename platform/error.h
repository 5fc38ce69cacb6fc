#pragma once
// Errors of the emulated platform. Numbers follow the classic Basic runtime
// (53 "File not found", 76 "Path not found", 70 "Permission denied", ...),
// because the program's messages show them ("Error # 53 File not found").
#include <stdexcept>
#include <string>

namespace platform {

enum ErrorNumber : int {
  kInvalidCall = 5,        // "Invalid procedure call or argument"
  kBadFileName = 52,       // "Bad file name or number"
  kFileNotFound = 53,      // "File not found"
  kFileAlreadyOpen = 55,   // "File already open"
  kDiskFull = 61,          // "Disk full"
  kBadFileNameSyntax = 64, // "Bad file name"
  kPermissionDenied = 70,  // "Permission denied"
  kDiskNotReady = 71,      // "Disk not ready"
  kPathFileAccess = 75,    // "Path/File access error"
  kPathNotFound = 76,      // "Path not found"
};

// The standard description of an error number ("File not found").
std::string errorDescription(int number);

class Error : public std::runtime_error {
 public:
  // what() is "<description>: <detail>" when detail is given; detail names
  // the file or path concerned.
  Error(int number, std::string detail = {});
  Error(int number, std::string description, std::string detail);
  int number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& detail() const { return detail_; }

 private:
  int number_;
  std::string description_;
  std::string detail_;
};

// machine.ini or the machine folder itself is unusable.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace platform
