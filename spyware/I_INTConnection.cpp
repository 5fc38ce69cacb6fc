#include "spyware/I_INTConnection.h"

#include <array>
#include <cstring>

namespace spyware {

using namespace platform::net;

namespace {

const char* descriptionOf(int32_t number) {
  switch (number) {
    case I_INTConnection::kInvalidWorkMode:
      return "Invalid work mode";
    case I_INTConnection::kCannotSetOption:
      return "Cannot set the Internet option";
    default:
      return "I_INTConnection component failure";
  }
}

constexpr uint32_t kNameBufferSize = 256;

}  // namespace

I_INTConnection::I_INTConnection(InternetProvider& provider, std::string exeName)
    : provider_(provider), exeName_(std::move(exeName)) {}

void I_INTConnection::raise(int32_t number, const std::string& cause) const {
  throw ComponentError(number, source(), descriptionOf(number), cause);
}

// Every unexpected failure of a property becomes the class's own error.
I_INTConnection::Query I_INTConnection::query() const {
  try {
    std::array<char, kNameBufferSize> name{};
    Query q;
    q.connected = provider_.getConnectedState(&q.flags, name.data(), kNameBufferSize);
    name.back() = '\0';
    q.name = StringFromPointer(name.data());
    return q;
  } catch (const ComponentError&) {
    throw;
  } catch (const std::exception& e) {
    raise(kComponentFailure, e.what());
  } catch (...) {
    raise(kComponentFailure);
  }
}

std::string I_INTConnection::StringFromPointer(const char* text) const {
  if (text == nullptr) return {};
  return std::string(text, std::strlen(text));
}

bool I_INTConnection::Connected() const { return query().connected; }

std::string I_INTConnection::ConnectionName() const { return query().name; }

int32_t I_INTConnection::ConnectionType() const {
  const uint32_t flags = query().flags;
  if (flags & INTERNET_CONNECTION_MODEM) return kModem;
  if (flags & INTERNET_CONNECTION_LAN) return kLan;
  if (flags & INTERNET_CONNECTION_PROXY) return kProxy;
  return kNone;
}

bool I_INTConnection::RasInstalled() const {
  return (query().flags & INTERNET_RAS_INSTALLED) != 0;
}

int32_t I_INTConnection::WorkMode() const {
  return (query().flags & INTERNET_CONNECTION_OFFLINE) ? kOffline : kOnline;
}

void I_INTConnection::setWorkMode(int32_t mode) {
  ConnectedStateInfo info;
  if (mode == kOffline) {
    info = {INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED};
  } else if (mode == kOnline) {
    info = {INTERNET_STATE_CONNECTED, 0};
  } else {
    raise(kInvalidWorkMode);
  }
  bool accepted = false;
  try {
    accepted = provider_.setOption(INTERNET_OPTION_CONNECTED_STATE, info);
  } catch (const std::exception& e) {
    raise(kComponentFailure, e.what());
  }
  if (!accepted) raise(kCannotSetOption);
}

}  // namespace spyware
