#include "tests/support/environment.h"

#include <stdlib.h>
#include <strings.h>

#include <algorithm>

extern char** environ;

namespace testsupport {

namespace {

std::string_view nameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

bool sameNameNoCase(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && ::strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

bool isHostOverride(std::string_view name) {
  for (const char* n : {"OS", "WinDir", "http_proxy", "https_proxy", "all_proxy", "no_proxy"}) {
    if (sameNameNoCase(name, n)) return true;
  }
  return name.starts_with("BRAKVEL9X_ENV_");
}

void clearHostOverrides() {
  std::vector<std::string> names;
  for (char** e = environ; e && *e; ++e) {
    std::string_view name = nameOf(*e);
    if (isHostOverride(name)) names.emplace_back(name);
  }
  for (const std::string& n : names) ::unsetenv(n.c_str());
}

std::vector<std::string> childEnvironment(const EnvChanges& changes) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view name = nameOf(*e);
    if (isHostOverride(name)) continue;
    bool changed = std::any_of(changes.begin(), changes.end(), [&](auto& c) { return c.first == name; });
    if (!changed) env.emplace_back(*e);
  }
  for (const auto& [name, value] : changes) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = ::getenv(name_.c_str())) old_ = old;
  if (value) {
    ::setenv(name_.c_str(), value, 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace testsupport
