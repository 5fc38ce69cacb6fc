#pragma once
// The question after a restore or an undo has been staged: restart now,
// later, or take the staged replacement back.
#include <array>

#include "app/form.h"

namespace app {

class frmRestart : public Form {
 public:
  explicit frmRestart(Program& program);

  Control* Label1 = nullptr;
  std::array<Control*, 3> optFinish{};
  Control* SmartNetButton1 = nullptr;

  void Form_Load() override;
  void SmartNetButton1_Click();

  // The command that restarts Windows.
  std::string restartCommand() const;
};

}  // namespace app
