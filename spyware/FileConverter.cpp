#include "spyware/FileConverter.h"

namespace spyware {

void convertInPlace(char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(255 - static_cast<unsigned char>(bytes[i]));
  }
}

std::string ConvertString(std::string_view bytes) {
  std::string out(bytes);
  convertInPlace(out.data(), out.size());
  return out;
}

}  // namespace spyware
