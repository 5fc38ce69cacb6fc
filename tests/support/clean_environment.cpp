// Compiled into every test program that uses the support library, so the
// host's overrides are gone before the first test builds a machine, whether
// it goes through the test machine or opens one the machine tool made.
#include "tests/support/environment.h"

namespace {

[[maybe_unused]] const bool kCleared = (testsupport::clearHostOverrides(), true);

}  // namespace
