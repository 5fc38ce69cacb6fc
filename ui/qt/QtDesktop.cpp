#include "ui/qt/QtDesktop.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include "app/form.h"
#include "ui/qt/FormView.h"

namespace qtui {

QtDesktop::QtDesktop() = default;

QtDesktop::~QtDesktop() { dropViews(); }

FormView* QtDesktop::view(const app::Form& form) const {
  auto it = views_.find(&form);
  return it == views_.end() ? nullptr : it->second;
}

void QtDesktop::dropViews() {
  for (auto& [form, loop] : modalLoops_) loop->quit();
  for (auto& [form, v] : views_) {
    v->detach();
    delete v;
  }
  views_.clear();
}

QWidget* QtDesktop::activeView() const {
  // The topmost modal window, else the main window, else any shown one.
  for (auto& [form, loop] : modalLoops_)
    if (FormView* v = view(*form); v && v->isVisible()) return v;
  for (auto& [form, v] : views_)
    if (form->name() == "frmGlavni" && v->isVisible()) return v;
  for (auto& [form, v] : views_)
    if (v->isVisible()) return v;
  return nullptr;
}

int QtDesktop::messageBox(std::string_view text, std::string_view title, app::MsgIcon icon, int buttons) {
  if (quiet) return app::messageButtons(buttons).front();
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case app::MsgIcon::Critical: qicon = QMessageBox::Critical; break;
    case app::MsgIcon::Question: qicon = QMessageBox::Question; break;
    case app::MsgIcon::Exclamation: qicon = QMessageBox::Warning; break;
    case app::MsgIcon::Information: qicon = QMessageBox::Information; break;
    case app::MsgIcon::None: break;
  }
  QString body = toQString(std::string(text));
  body.replace("\r\n", "\n");
  QMessageBox box(qicon, toQString(std::string(title)), body, QMessageBox::NoButton, activeView());
  struct Pair {
    int result;
    QMessageBox::StandardButton button;
  };
  std::vector<Pair> pairs;
  switch (buttons & 7) {
    case app::vbOKCancel: pairs = {{app::vbOK, QMessageBox::Ok}, {app::vbCancel, QMessageBox::Cancel}}; break;
    case app::vbAbortRetryIgnore:
      pairs = {{app::vbAbort, QMessageBox::Abort}, {app::vbRetry, QMessageBox::Retry}, {app::vbIgnore, QMessageBox::Ignore}};
      break;
    case app::vbYesNoCancel:
      pairs = {{app::vbYes, QMessageBox::Yes}, {app::vbNo, QMessageBox::No}, {app::vbCancel, QMessageBox::Cancel}};
      break;
    case app::vbYesNo: pairs = {{app::vbYes, QMessageBox::Yes}, {app::vbNo, QMessageBox::No}}; break;
    case app::vbRetryCancel: pairs = {{app::vbRetry, QMessageBox::Retry}, {app::vbCancel, QMessageBox::Cancel}}; break;
    default: pairs = {{app::vbOK, QMessageBox::Ok}}; break;
  }
  QMessageBox::StandardButtons set;
  for (auto& p : pairs) set |= p.button;
  box.setStandardButtons(set);
  box.setDefaultButton(pairs.front().button);
  int pressed = box.exec();
  for (auto& p : pairs)
    if (p.button == pressed) return p.result;
  // Closed through the title bar: Cancel where there is one, else the first.
  for (auto& p : pairs)
    if (p.result == app::vbCancel) return p.result;
  return pairs.front().result;
}

void QtDesktop::formLoaded(app::Form& form) {
  if (view(form)) return;
  views_[&form] = new FormView(form);
}

void QtDesktop::showForm(app::Form& form, bool modal) {
  FormView* v = view(form);
  if (!v) return;
  if (!v->isVisible()) {
    if (form.left() == 0 && form.top() == 0) {
      QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                       : QRect(0, 0, 1024, 768);
      v->move(screen.center() - QPoint(form.clientWidth() / 2, form.clientHeight() / 2));
    } else {
      v->move(form.left(), form.top());
    }
  }
  v->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
  v->show();
  if (QGuiApplication::platformName() != "offscreen") {
    v->raise();
    v->activateWindow();
  }
  if (!modal || quiet) return;
  QEventLoop loop;
  modalLoops_[&form] = &loop;
  QPointer<QEventLoop> guard(&loop);
  if (form.loaded() && form.visible() && !ended_) loop.exec();
  modalLoops_.erase(&form);
}

void QtDesktop::hideForm(app::Form& form) {
  if (auto it = modalLoops_.find(&form); it != modalLoops_.end()) it->second->quit();
  if (FormView* v = view(form)) {
    v->setWindowModality(Qt::NonModal);
    v->hide();
  }
}

void QtDesktop::formUnloaded(app::Form& form) {
  if (auto it = modalLoops_.find(&form); it != modalLoops_.end()) it->second->quit();
  auto it = views_.find(&form);
  if (it == views_.end()) return;
  FormView* v = it->second;
  views_.erase(it);
  v->detach();
  v->hide();
  v->deleteLater();
}

void QtDesktop::showHelp(std::string_view helpFile, int context) {
  if (helpViewer) {
    helpViewer(std::string(helpFile), context);
    return;
  }
  if (quiet) return;
  auto* box = new QMessageBox(QMessageBox::Information, "Brakvel 9x Help",
                              context > 0 ? QString("Help topic %1 of %2").arg(context).arg(toQString(std::string(helpFile)))
                                          : QString("Contents of %1").arg(toQString(std::string(helpFile))),
                              QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void QtDesktop::showHelpContents(std::string_view helpFile) { showHelp(helpFile, 0); }

void QtDesktop::programStarted(std::string_view, platform::WindowStyle) {}

void QtDesktop::programEnded() {
  ended_ = true;
  for (auto& [form, loop] : modalLoops_) loop->quit();
  QCoreApplication::exit(0);
}

int QtDesktop::screenWidth() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->availableGeometry().width() : 1024;
}

int QtDesktop::screenHeight() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->availableGeometry().height() : 768;
}

}  // namespace qtui
