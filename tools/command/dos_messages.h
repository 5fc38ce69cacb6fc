#pragma once
// What COMMAND.COM says when something fails.
#include <string>

#include "platform/error.h"

namespace command {

inline constexpr const char* kBadCommand = "Bad command or file name";

// The DOS wording of a platform failure ("Access denied - A:\X.TXT").
std::string dosMessage(const platform::Error& e);

}  // namespace command
