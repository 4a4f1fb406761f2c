#include "ui/ErrorDisplay.h"

#include "ui/TApplication.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {

void ShowErrorMessage(const std::string& Text) {
  QMessageBox Box(QMessageBox::Critical, ApplicationTitle, QString::fromStdString(Text),
                  QMessageBox::Ok, QApplication::activeWindow());
  Box.exec();
}

void ShowInformationMessage(const std::string& Text) {
  QMessageBox Box(QMessageBox::NoIcon, ApplicationTitle, QString::fromStdString(Text),
                  QMessageBox::Ok, QApplication::activeWindow());
  Box.exec();
}

void InstallErrorDisplay() {
  SetErrorDisplay(ShowErrorMessage);
  SetMessageDisplay(ShowInformationMessage);
}

} // namespace ui
