#pragma once
// Answers questions about the computer's internet connection, asking the
// platform anew on every read, and switches the offline/online work mode.
#include <cstdint>
#include <string>

#include "spyware/ComponentError.h"

namespace spyware {

// Flag bits of the connected-state query.
inline constexpr uint32_t INTERNET_CONNECTION_MODEM = 0x01;
inline constexpr uint32_t INTERNET_CONNECTION_LAN = 0x02;
inline constexpr uint32_t INTERNET_CONNECTION_PROXY = 0x04;
inline constexpr uint32_t INTERNET_RAS_INSTALLED = 0x10;
inline constexpr uint32_t INTERNET_CONNECTION_OFFLINE = 0x20;

// The connected-state record of the set-option call (option 50).
inline constexpr uint32_t INTERNET_OPTION_CONNECTED_STATE = 50;
inline constexpr uint32_t INTERNET_STATE_CONNECTED = 0x01;
inline constexpr uint32_t INTERNET_STATE_DISCONNECTED_BY_USER = 0x10;
inline constexpr uint32_t ISO_FORCE_DISCONNECTED = 0x01;
struct ConnectedStateInfo {
  uint32_t state = 0;
  uint32_t flags = 0;
};

// The two platform calls the class makes.
class InternetProvider {
 public:
  virtual ~InternetProvider() = default;
  // InternetGetConnectedStateEx: fills *flags and the zero-terminated name
  // (at most nameSize bytes); true when the system has a connection.
  virtual bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) = 0;
  // InternetSetOption(no handle, option, record): false when refused.
  virtual bool setOption(uint32_t option, const ConnectedStateInfo& info) = 0;
};

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
