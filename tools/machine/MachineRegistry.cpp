#include "tools/machine/MachineRegistry.h"

#include "platform/registry/demo.h"
#include "platform/registry/hive_store.h"
#include "platform/text.h"

namespace machine_tool {

void writeDemoRegistry(const platform::Machine& m, bool me) { platform::writeDemoRegistry(m, me); }

void convertTextHives(const platform::Machine& m, std::ostream& log) {
  using namespace platform::hive;
  HiveStore store(m);
  HiveStore::Writer w(store);
  bool any = false;
  for (int i = 0; i < kHiveCount; ++i) {
    const auto id = static_cast<HiveId>(i);
    if (!w.convert(id)) continue;
    log << "converted " << platform::ansiToUtf8(store.winPath(id)) << " from REGEDIT4 text to a registry file\n";
    any = true;
  }
  if (any) w.commit();
}

}  // namespace machine_tool
