#pragma once
#include <string_view>

#include "platform/machine.h"

namespace app {

// True when path names an existing file: plain, read-only, hidden and
// system files count, folders do not. Platform errors reach the caller.
bool FileExists(const platform::Machine& m, std::string_view path);

}  // namespace app
