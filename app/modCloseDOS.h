#pragma once
#include <string_view>

#include "platform/launcher.h"

namespace app {

// FindWindow with a null class: a top-level window with exactly this title,
// hidden ones included; 0 when none.
platform::HWND FindWindowByTitle(const platform::WindowTable& windows, std::string_view title);

}  // namespace app
