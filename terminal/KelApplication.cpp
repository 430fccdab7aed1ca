#include "KelApplication.h"

#include <QMessageBox>
#include <QMetaObject>
#include <cstdio>
#include <exception>

namespace {

ErrorBoxFunction& ErrorBox() {
  static ErrorBoxFunction box;
  return box;
}

void ShowDefaultBox(const QString& message) {
  QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("KELTERM"), message);
}

}  // namespace

KelApplication::KelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KelApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
  return false;
}

void ShowErrorBox(const std::string& message) {
  const QString text = QString::fromStdString(message);
  if (ErrorBox())
    ErrorBox()(text);
  else
    ShowDefaultBox(text);
}

void ShowErrorBoxLater(const std::string& message) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    std::fprintf(stderr, "KELTERM: %s\n", message.c_str());
    return;
  }
  QMetaObject::invokeMethod(
      app, [message] { ShowErrorBox(message); }, Qt::QueuedConnection);
}

void SetErrorBox(ErrorBoxFunction box) { ErrorBox() = std::move(box); }
