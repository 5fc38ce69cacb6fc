#pragma once
// Waiting in real time for something another process does, never longer
// than a budget.
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// Asks done() until it says yes (true) or the budget has passed (false, and
// the test fails saying what was awaited).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds budget, const std::string& what);

}  // namespace testsupport
