#include "tests/support/errors.h"

#include "platform/error.h"

namespace testsupport {

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

}  // namespace testsupport
