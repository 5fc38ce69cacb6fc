#pragma once
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace app {

// GetShortPathName into a buffer of 165 characters: the 8.3 form of an
// existing path, or empty text when the path does not exist or its short
// form does not fit the buffer.
std::string ShortPath(const platform::Machine& m, std::string_view path);

}  // namespace app
