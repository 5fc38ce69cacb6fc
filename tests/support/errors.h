#pragma once
#include <functional>

namespace testsupport {

// The number of the platform::Error f throws, 0 when it throws none.
int errorOf(const std::function<void()>& f);

}  // namespace testsupport
