#pragma once
// The first window of a run: the seven tasks, "Continue" opens the main
// window on the chosen task's screen.
#include <array>

#include "app/form.h"

namespace app {

struct IntroTask {
  const char* caption;
  int helpTopic;
};
inline constexpr int kIntroTaskCount = 7;
const IntroTask& introTask(int index);

class frmIntro : public Form {
 public:
  explicit frmIntro(Program& program);

  Control* Label1 = nullptr;
  std::array<Control*, kIntroTaskCount> optContinue{};
  Control* chkHelp = nullptr;
  Control* chkDisplay = nullptr;
  Control* SmartNetButton1 = nullptr;

  void Form_Load() override;
  void chkDisplay_Click();
  void SmartNetButton1_Click();
};

}  // namespace app
