// The port settings frame: four lists and two two-digit edits bound to the
// engine's settings model, which tells the owner of every change; after them
// the two line options, "Echo" and "RS-485".
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <utility>
#include <vector>

#include "serial/portsettings.h"

class QCheckBox;
class QComboBox;

namespace mkpt {

// What the port field shows of a device path that does not fit the width:
// the path without its well-known folder, elided in the middle, so that the
// adapter's name and its port number both stay in sight.
QString ShownPortName(const QString& path, const QFontMetrics& metrics, int width);

// The port list's text field: while it has no focus, a long path is shown as
// ShownPortName; when it has the focus, the whole path is there to edit.
class TPortLineEdit : public QLineEdit {
  Q_OBJECT
public:
  using QLineEdit::QLineEdit;
  // What the field shows now.
  QString ShownText() const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QRect TextArea() const;
};

class TPortSetupFrame : public QWidget {
  Q_OBJECT
public:
  explicit TPortSetupFrame(QWidget* parent = nullptr);
  mkp::TPortSettings& Settings() { return settings_; }
  // Shows what the model holds (after ResetToDefaults or LoadSettings).
  void Refresh();
  // Lays the six settings and the two options out in one row when they fit
  // the width, else in two rows of three settings and one option.
  void FitWidth(int width);
  bool TwoRows() const { return twoRows_; }
  // What the port made of the line options at its last open (empty: all
  // taken); the RS-485 box's tool tip and description tell it.
  void ShowLineOptionsNote(const QString& note);

  QComboBox* PortNumCBox = nullptr;
  QComboBox* SpeedCBox = nullptr;
  QComboBox* StopBitCBox = nullptr;
  QComboBox* ParityCBox = nullptr;
  QLineEdit* ReadIntervalEd = nullptr;
  QLineEdit* WriteIntervalEd = nullptr;
  QCheckBox* EchoCB = nullptr;
  QCheckBox* Rs485CB = nullptr;

private:
  void PortTyped();
  void SpeedTyped();
  void PlaceControls(bool twoRows);
  mkp::TPortSettings settings_;
  bool refreshing_ = false;
  bool twoRows_ = false;
  std::vector<std::pair<QWidget*, QWidget*>> pairs_;  // caption and control, in tab order
};

}  // namespace mkpt
