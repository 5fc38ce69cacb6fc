#pragma once
// The host environment as the tests see it. A shell that sets OS, WinDir,
// BRAKVEL9X_ENV_* or a proxy (a Windows host, a developer's experiment, a
// company network) would change what every machine reports, so the tests
// take those away, for themselves and for the processes they start.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// OS, WinDir (any case), every BRAKVEL9X_ENV_* name, and the proxy
// variables: host variables that override what a machine says.
bool isHostOverride(std::string_view name);
// Unsets those in this process.
void clearHostOverrides();

// name -> value; no value unsets the variable.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;
// This process's environment without the host overrides, with changes
// applied: "NAME=value" entries for a child.
std::vector<std::string> childEnvironment(const EnvChanges& changes = {});

// Sets (or, with no value, unsets) a host variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace testsupport
