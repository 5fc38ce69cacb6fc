#pragma once
// The about box: title, version, and the system-information tool.
#include <string>

#include "app/form.h"
#include "platform/registry/registry.h"

namespace app {

class frmAbout : public Form {
 public:
  explicit frmAbout(Program& program);

  Control* cmdOK = nullptr;
  Control* cmdSysInfo = nullptr;
  Control* lblTitle = nullptr;
  Control* lblVersion = nullptr;

  void Form_Load() override;
  void cmdOK_Click() { Unload(); }
  void cmdSysInfo_Click() { StartSysInfo(); }
  void StartSysInfo();
  bool GetKeyValue(platform::reg::HKEY root, const std::string& keyName, const std::string& subKeyRef,
                   std::string& keyVal);
};

}  // namespace app
