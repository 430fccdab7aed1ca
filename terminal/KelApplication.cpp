#include "KelApplication.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QTranslator>
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

// Qt's own texts (the file dialogs, the Yes/No question) come in Japanese
// like every other text of the window, whatever the desktop's locale. Without
// the catalogue they stay English.
void InstallQtJapanese(QCoreApplication& app) {
  auto* catalogue = new QTranslator(&app);
  if (catalogue->load(QStringLiteral("qtbase_ja"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(catalogue);
  else
    std::fprintf(stderr, "KELTERM: Qt's Japanese catalogue (qtbase_ja.qm) is missing\n");
}

}  // namespace

KelApplication::KelApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The per-user data folder is named after the application, and the desktop
  // matches the window to its entry and icon by the entry's name.
  setApplicationName(QStringLiteral("KelTerm"));
  setDesktopFileName(QStringLiteral(KELTERM_APP_ID));
  InstallQtJapanese(*this);
}

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

std::string FailureText(const char* sentence, const std::string& reason) {
  return std::string(sentence) + "\n" + reason;
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
