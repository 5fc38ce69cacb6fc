#include "HelpWindow.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "HelpLocate.h"

namespace winhelp {

namespace {

std::string escaped(const std::string& ansi) {
  return QString::fromStdString(toUtf8(ansi)).toHtmlEscaped().toStdString();
}

std::string inline_(const std::string& text) {
  std::string out;
  for (const Span& s : spans(text)) {
    if (s.jump != 0) {
      out += "<a href=\"topic:" + std::to_string(s.jump) + "\">" + escaped(s.text) + "</a>";
    } else {
      out += escaped(s.text);
    }
  }
  return out;
}

class HelpDialog : public QDialog {
 public:
  HelpDialog(const HelpFile& help, int topic) : help_(help) {
    setWindowTitle(QString::fromStdString(toUtf8(help.title)));
    resize(560, 480);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto* contents = new QPushButton("&Contents", this);
    back_ = new QPushButton("&Back", this);
    auto* close = new QPushButton("Close", this);
    buttons->addWidget(contents);
    buttons->addWidget(back_);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(false);
    layout->addWidget(browser_);
    connect(contents, &QPushButton::clicked, this, [this] { showPage(0, true); });
    connect(back_, &QPushButton::clicked, this, [this] {
      if (history_.size() > 1) {
        history_.pop_back();
        showPage(history_.back(), false);
      }
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
      if (url.scheme() == "topic") showPage(url.path().toInt(), true);
    });
    showPage(topic, true);
  }

 private:
  void showPage(int topic, bool remember) {
    const Page* page = topic == 0 ? &help_.contents : help_.topic(topic);
    if (page == nullptr) return;
    if (remember) history_.push_back(topic);
    browser_->setHtml(QString::fromStdString(renderHtml(help_, *page)));
    back_->setEnabled(history_.size() > 1);
  }

  const HelpFile& help_;
  QTextBrowser* browser_;
  QPushButton* back_;
  std::vector<int> history_;
};

}  // namespace

std::string renderHtml(const HelpFile& help, const Page& page) {
  std::string html = "<h2>" + escaped(page.title) + "</h2>";
  bool inList = false;
  for (const Block& b : page.blocks) {
    if (b.kind != Block::Kind::Bullet && inList) {
      html += "</ul>";
      inList = false;
    }
    switch (b.kind) {
      case Block::Kind::Paragraph: html += "<p>" + inline_(b.text) + "</p>"; break;
      case Block::Kind::Bullet:
        if (!inList) html += "<ul>";
        inList = true;
        html += "<li>" + inline_(b.text) + "</li>";
        break;
      case Block::Kind::Step: html += "<p><b>" + b.number + ".</b> " + inline_(b.text) + "</p>"; break;
      case Block::Kind::Verbatim: html += "<pre>" + escaped(b.text) + "</pre>"; break;
    }
  }
  if (inList) html += "</ul>";
  if (&page == &help.contents) {
    html += "<ul>";
    for (const Page& t : help.topics) {
      html += "<li><a href=\"topic:" + std::to_string(t.context) + "\">" + escaped(t.title) + "</a></li>";
    }
    html += "</ul>";
  }
  return html;
}

int runWindow(int argc, char** argv, const HelpFile& help, int topic) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "winhelp: no display; run it under a virtual display (xvfb-run winhelp ...) "
                 "or use --print\n");
    return 1;
  }
  QApplication app(argc, argv);
  HelpDialog dialog(help, topic);
  dialog.show();
  return app.exec();
}

}  // namespace winhelp
