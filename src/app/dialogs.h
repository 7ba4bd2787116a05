// Message boxes and file dialogs of the window go through this interface, so
// that tests can answer them.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace mkpt {

class TDialogs {
public:
  virtual ~TDialogs() = default;
  // An error box: the error icon and a single "Yes" button.
  virtual void Error(const QString& text) = 0;
  // An information box.
  virtual void Information(const QString& text) = 0;
  // A confirmation with Yes and No; true for Yes.
  virtual bool AskYesNo(const QString& text) = 0;
  // The chosen file, or empty when cancelled. Filters in Qt's form. A save
  // dialog tells the filter the user chose when asked (chosenFilter), and a
  // name typed without an extension gets the chosen filter's.
  virtual QString OpenFile(const QString& title, const QString& filter, const QString& defaultSuffix) = 0;
  virtual QString SaveFile(const QString& title, const QString& filter, const QString& defaultSuffix,
                           QString* chosenFilter = nullptr) = 0;
  // Shows one of the window's own dialogs modally; true when it closed with OK.
  virtual bool Run(QDialog& dialog) = 0;
};

// The real boxes and dialogs, modal over the given window.
class TQtDialogs : public TDialogs {
public:
  explicit TQtDialogs(QWidget* parent) : parent_(parent) {}
  void Error(const QString& text) override;
  void Information(const QString& text) override;
  bool AskYesNo(const QString& text) override;
  QString OpenFile(const QString& title, const QString& filter, const QString& defaultSuffix) override;
  QString SaveFile(const QString& title, const QString& filter, const QString& defaultSuffix,
                   QString* chosenFilter = nullptr) override;
  bool Run(QDialog& dialog) override;

private:
  QWidget* parent_;
};

}  // namespace mkpt
