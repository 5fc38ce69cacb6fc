#pragma once
// Answers questions about the computer's internet connection, asking the
// platform anew on every read, and switches the offline/online work mode.
#include <cstdint>
#include <string>

#include "platform/net/internet.h"
#include "spyware/ComponentError.h"

namespace spyware {

// The platform calls the class makes (InternetGetConnectedStateEx,
// InternetSetOption) and their flags.
using platform::net::ConnectedStateInfo;
using platform::net::InternetProvider;

class I_INTConnection {
 public:
  static constexpr int32_t kInvalidWorkMode = kObjectErrorBase + 17701;        // 0x80044525
  static constexpr int32_t kCannotSetOption = kObjectErrorBase + 17702;        // 0x80044526
  static constexpr int32_t kComponentFailure = kObjectErrorBase + 17703;       // 0x80044527

  enum WorkModeValue : int32_t { kOffline = 1, kOnline = 2 };
  enum ConnectionTypeValue : int32_t { kModem = 1, kLan = 2, kProxy = 3, kNone = 4 };

  // exeName: the program's file name without extension ("Brakvel 9x").
  I_INTConnection(InternetProvider& provider, std::string exeName);

  bool Connected() const;
  std::string ConnectionName() const;
  int32_t ConnectionType() const;
  bool RasInstalled() const;
  int32_t WorkMode() const;
  void setWorkMode(int32_t mode);

  std::string source() const { return exeName_ + ".I_INTConnection"; }

 private:
  struct Query {
    bool connected = false;
    uint32_t flags = 0;
    std::string name;
  };
  Query query() const;
  std::string StringFromPointer(const char* text) const;
  [[noreturn]] void raise(int32_t number, const std::string& cause = {}) const;

  InternetProvider& provider_;
  std::string exeName_;
};

}  // namespace spyware
