#pragma once
// Everything a form or module reaches outside the program.
#include <string>

#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/timer.h"

namespace platform::net {
class Http;
class InternetProvider;
}  // namespace platform::net

namespace app {

class Desktop;

struct Context {
  const platform::Machine& machine;
  platform::reg::Registry& registry;
  platform::WindowTable& windows;
  platform::Launcher& launcher;
  platform::EventLoop& loop;
  Desktop& desktop;
  // Windows path of the folder the executable runs from, without a
  // trailing "\" except at a drive root ("C:\"), as the platform gives it.
  std::string programFolder;
  // The executable's file name without extension: the application name of
  // the preferences.
  std::string exeName;
  // The connection state and the HTTP client; none: no internet.
  platform::net::InternetProvider* internet = nullptr;
  platform::net::Http* http = nullptr;
};

// The program's own title and version.
inline constexpr const char* kAppTitle = "Brakvel 9x";
inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

// The maker's web site (scheme and host).
inline constexpr const char* kVendorSite = "http://www.vantrel.example";

}  // namespace app
