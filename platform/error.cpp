#include "platform/error.h"

namespace platform {

std::string errorDescription(int number) {
  switch (number) {
    case kInvalidCall: return "Invalid procedure call or argument";
    case kBadFileName: return "Bad file name or number";
    case kFileNotFound: return "File not found";
    case kFileAlreadyOpen: return "File already open";
    case kDiskFull: return "Disk full";
    case kBadFileNameSyntax: return "Bad file name";
    case kPermissionDenied: return "Permission denied";
    case kDiskNotReady: return "Disk not ready";
    case 57: return "Device I/O error";
    case 58: return "File already exists";
    case 68: return "Device unavailable";
    case 74: return "Can't rename with different drive";
    case kPathFileAccess: return "Path/File access error";
    case kPathNotFound: return "Path not found";
    default: return "Application-defined or object-defined error";
  }
}

namespace {
std::string message(const std::string& description, const std::string& detail) {
  return detail.empty() ? description : description + ": " + detail;
}
}  // namespace

Error::Error(int number, std::string detail)
    : Error(number, errorDescription(number), std::move(detail)) {}

Error::Error(int number, std::string description, std::string detail)
    : std::runtime_error(message(description, detail)),
      number_(number),
      description_(std::move(description)),
      detail_(std::move(detail)) {}

}  // namespace platform
