#pragma once
// The desktop for people: one window per loaded form, modal windows and
// message boxes with their own loops (the timers keep ticking in them).
#include <QObject>
#include <functional>
#include <map>
#include <string>

#include "app/desktop.h"

class QEventLoop;

namespace qtui {

class FormView;

class QtDesktop : public QObject, public app::Desktop {
 public:
  QtDesktop();
  ~QtDesktop() override;

  int messageBox(std::string_view text, std::string_view title, app::MsgIcon icon, int buttons) override;
  void formLoaded(app::Form& form) override;
  void showForm(app::Form& form, bool modal) override;
  void hideForm(app::Form& form) override;
  void formUnloaded(app::Form& form) override;
  void showHelp(std::string_view helpFile, int context) override;
  void showHelpContents(std::string_view helpFile) override;
  void programStarted(std::string_view commandLine, platform::WindowStyle style) override;
  void programEnded() override;
  int screenWidth() const override;
  int screenHeight() const override;

  FormView* view(const app::Form& form) const;
  // Deletes every view at once (before the forms go).
  void dropViews();
  bool ended() const { return ended_; }

  // The help viewer: (help file, context number; 0 for the contents).
  // Without one, a small window names the topic asked for.
  std::function<void(const std::string&, int)> helpViewer;
  // Screenshots: windows are laid out but message boxes are not shown.
  bool quiet = false;

 private:
  QWidget* activeView() const;
  std::map<const app::Form*, FormView*> views_;
  std::map<const app::Form*, QEventLoop*> modalLoops_;
  bool ended_ = false;
};

}  // namespace qtui
