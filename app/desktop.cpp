#include "app/desktop.h"

namespace app {

Desktop::~Desktop() = default;

const char* msgIconName(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::None: return "none";
    case MsgIcon::Critical: return "critical";
    case MsgIcon::Question: return "question";
    case MsgIcon::Exclamation: return "exclamation";
    case MsgIcon::Information: return "information";
  }
  return "none";
}

const char* msgResultCaption(int result) {
  switch (result) {
    case vbOK: return "OK";
    case vbCancel: return "Cancel";
    case vbAbort: return "Abort";
    case vbRetry: return "Retry";
    case vbIgnore: return "Ignore";
    case vbYes: return "Yes";
    case vbNo: return "No";
  }
  return "";
}

std::vector<int> messageButtons(int buttons) {
  switch (buttons & 7) {
    case vbOKCancel: return {vbOK, vbCancel};
    case vbAbortRetryIgnore: return {vbAbort, vbRetry, vbIgnore};
    case vbYesNoCancel: return {vbYes, vbNo, vbCancel};
    case vbYesNo: return {vbYes, vbNo};
    case vbRetryCancel: return {vbRetry, vbCancel};
    default: return {vbOK};
  }
}

}  // namespace app
