#include "tools/machine/DemoRegistry.h"

#include "platform/files.h"

namespace machine_tool {

// TODO(registry): replace this body with a call to
// platform::writeDemoRegistry(m, me) once the registry supplies the demo
// hives; until then every hive is an empty REGEDIT4 file.
void writeDemoRegistry(const platform::Machine& m, bool me) {
  const std::string winDir = m.env("WinDir").value_or("C:\\WINDOWS");
  const char* hives[] = {"Classes.dat", "System.dat", "User.dat"};
  for (const char* hive : hives) {
    if (!me && std::string(hive) == "Classes.dat") continue;
    platform::writeFileAtomic(m, platform::winJoin(winDir, hive), "REGEDIT4\r\n\r\n");
  }
}

}  // namespace machine_tool
