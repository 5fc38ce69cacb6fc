// ImportRegFile: needs the program's Shell and message box.
#include "app/program.h"
#include "platform/error.h"
#include "shell/modAssociate.h"

namespace shell {

bool ImportRegFile(app::Program& program, std::string_view path, platform::JobId* job) {
  try {
    const platform::JobId started =
        program.shell(importCommandLine(path), platform::WindowStyle::Hide);
    if (job != nullptr) *job = started;
    return true;
  } catch (const platform::Error& e) {
    program.msgBox(importStartFailureText(e.number(), e.description(), path),
                   app::MsgIcon::Critical, "Error:");
    return false;
  }
}

}  // namespace shell
