#include "tools/machine/DemoRegistry.h"

#include "platform/registry_demo.h"

namespace machine_tool {

void writeDemoRegistry(const platform::Machine& m, bool me) { platform::writeDemoRegistry(m, me); }

}  // namespace machine_tool
