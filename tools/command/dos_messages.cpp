#include "tools/command/dos_messages.h"

namespace command {

std::string dosMessage(const platform::Error& e) {
  std::string what;
  switch (e.number()) {
    case platform::kPermissionDenied:
    case platform::kPathFileAccess: what = "Access denied"; break;
    case platform::kFileNotFound: what = "File not found"; break;
    case platform::kPathNotFound: what = "Path not found"; break;
    case platform::kDiskFull: what = "Insufficient disk space"; break;
    case platform::kDiskNotReady: what = "Not ready error reading drive"; break;
    default: what = e.description(); break;
  }
  if (!e.detail().empty()) what += " - " + e.detail();
  return what;
}

}  // namespace command
