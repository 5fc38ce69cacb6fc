// MSINFO32.EXE: the system-information tool of the machine.
//   msinfo32            a window with the system summary (without a display:
//                       the summary on standard output)
//   msinfo32 --print    the summary on standard output
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SystemReport.h"
#include "platform/machine.h"
#include "platform/text.h"

#ifdef BRAKVEL9X_MSINFO_QT
#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#endif

int main(int argc, char** argv) {
  bool print = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--print") == 0) {
      print = true;
    } else {
      std::fprintf(stderr, "usage: msinfo32 [--print]\n");
      return 2;
    }
  }
  std::string report;
  try {
    const auto machine = platform::Machine::open(platform::Machine::defaultDir());
    report = platform::ansiToUtf8(msinfo::systemReport(machine));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "msinfo32: %s\n", e.what());
    return 1;
  }
#ifdef BRAKVEL9X_MSINFO_QT
  const bool display = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
                       std::getenv("QT_QPA_PLATFORM") != nullptr;
  if (!print && display) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("System Information");
    dialog.resize(520, 420);
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(QString::fromStdString(report), &dialog);
    text->setReadOnly(true);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(text);
    auto* close = new QPushButton("Close", &dialog);
    layout->addWidget(close, 0, Qt::AlignRight);
    QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.show();
    return app.exec();
  }
#endif
  std::fputs(report.c_str(), stdout);
  return 0;
}
