// ConvertFile on the machine's Windows paths.
#include <cerrno>

#include "platform/error.h"
#include "platform/machine.h"
#include "spyware/FileConverter.h"

namespace spyware {

namespace {

int errorNumber(const ConvertError& e, bool isSource) {
  switch (e.errnum()) {
    case ENOSPC:
    case EDQUOT:
      return platform::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return platform::kPermissionDenied;
    case ENOENT:
      return isSource ? platform::kFileNotFound : platform::kPathNotFound;
    default:
      return platform::kPathFileAccess;
  }
}

}  // namespace

void ConvertFile(const platform::Machine& m, std::string_view source,
                 std::string_view destination, const YieldFn& yield) {
  const auto hostSource = m.toHost(source);
  const auto hostDestination = m.toHost(destination);
  try {
    convertHostFile(hostSource, hostDestination, yield);
  } catch (const ConvertError& e) {
    const bool isSource = e.file() == hostSource;
    throw platform::Error(errorNumber(e, isSource), std::string(isSource ? source : destination));
  }
}

}  // namespace spyware
