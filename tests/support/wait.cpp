#include "tests/support/wait.h"

#include <thread>

#include <gtest/gtest.h>

namespace testsupport {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds budget, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "waited " << budget.count() << " ms for " << what << " in vain";
  return false;
}

}  // namespace testsupport
