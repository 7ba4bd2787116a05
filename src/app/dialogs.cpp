#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace mkpt {

void TQtDialogs::Error(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Yes, parent_);
  box.exec();
}

void TQtDialogs::Information(const QString& text) {
  QMessageBox box(QMessageBox::Information, QApplication::applicationName(), text, QMessageBox::Ok, parent_);
  box.exec();
}

bool TQtDialogs::AskYesNo(const QString& text) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                  QMessageBox::Yes | QMessageBox::No, parent_);
  return box.exec() == QMessageBox::Yes;
}

namespace {

QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& title, const QString& filter,
                      const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

QString TQtDialogs::OpenFile(const QString& title, const QString& filter, const QString& defaultSuffix) {
  return RunFileDialog(parent_, QFileDialog::AcceptOpen, title, filter, defaultSuffix);
}

QString TQtDialogs::SaveFile(const QString& title, const QString& filter, const QString& defaultSuffix) {
  return RunFileDialog(parent_, QFileDialog::AcceptSave, title, filter, defaultSuffix);
}

bool TQtDialogs::Run(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

}  // namespace mkpt
