#pragma once
// An error raised by one of the program's own classes, as a class raises it
// on the classic platform: a number (application-defined range), a source
// ("<executable name>.<class>") and a description.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace spyware {

inline constexpr int32_t kObjectErrorBase = static_cast<int32_t>(0x80040000u);

class ComponentError : public std::runtime_error {
 public:
  // cause, when given, says what went wrong underneath; it goes into what()
  // only, so the description stays the class's own text.
  ComponentError(int32_t number, std::string source, std::string description,
                 const std::string& cause = {})
      : std::runtime_error(description + (cause.empty() ? "" : " (" + cause + ")")),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}
  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

}  // namespace spyware
