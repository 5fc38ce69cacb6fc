#pragma once
#include <stdexcept>
#include <string>

namespace cab {

// Anything wrong with a cabinet or the files around it; what() is a complete
// message naming the file concerned.
class CabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace cab
