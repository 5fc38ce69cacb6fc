#pragma once
// The tip of the day: twelve fixed hints in order, "Next Tip" steps through
// them, "Close" hands over to the intro.
#include <cstdint>
#include <string>

#include "app/form.h"

namespace app {

inline constexpr int kTipCount = 12;
const std::string& tipText(int number);  // 1 to 12

class TipOfDay : public Form {
 public:
  explicit TipOfDay(Program& program);

  Control* Label1 = nullptr;
  Control* LblTip = nullptr;
  Control* Label2 = nullptr;
  Control* chkLoadTipsAtStartup = nullptr;
  Control* SmartNetButton1 = nullptr;
  Control* SmartNetButton2 = nullptr;
  uint8_t CurrentTip = 0;

  void Form_Load() override;
  void Tip();
  void SmartNetButton1_Click() { Tip(); }
  void SmartNetButton2_Click();
  void chkLoadTipsAtStartup_Click();
};

}  // namespace app
