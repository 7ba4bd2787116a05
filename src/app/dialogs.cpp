#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

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

// The extension of a filter such as "PNG images (*.png)"; empty for "*" or
// several patterns.
QString SuffixOf(const QString& filter) {
  static const QRegularExpression single(R"(\(\*\.([A-Za-z0-9]+)\))");
  const QRegularExpressionMatch match = single.match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& title, const QString& filter,
                      const QString& defaultSuffix, QString* chosenFilter = nullptr) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  // A name typed without an extension gets that of the filter chosen.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, defaultSuffix](const QString& chosen) {
    const QString suffix = SuffixOf(chosen);
    dialog.setDefaultSuffix(suffix.isEmpty() ? defaultSuffix : suffix);
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  if (chosenFilter != nullptr) *chosenFilter = dialog.selectedNameFilter();
  return dialog.selectedFiles().front();
}

}  // namespace

QString TQtDialogs::OpenFile(const QString& title, const QString& filter, const QString& defaultSuffix) {
  return RunFileDialog(parent_, QFileDialog::AcceptOpen, title, filter, defaultSuffix);
}

QString TQtDialogs::SaveFile(const QString& title, const QString& filter, const QString& defaultSuffix,
                             QString* chosenFilter) {
  return RunFileDialog(parent_, QFileDialog::AcceptSave, title, filter, defaultSuffix, chosenFilter);
}

bool TQtDialogs::Run(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

}  // namespace mkpt
