#include "app/modCloseDOS.h"

namespace app {

platform::HWND FindWindowByTitle(const platform::WindowTable& windows, std::string_view title) {
  platform::HWND h = windows.find(title);
  return h > 0 ? h : 0;
}

}  // namespace app
