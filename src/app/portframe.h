// The port settings frame: four lists and two two-digit edits bound to the
// engine's settings model, which tells the owner of every change.
#pragma once

#include <QWidget>

#include "serial/portsettings.h"

class QComboBox;
class QLineEdit;

namespace mkpt {

class TPortSetupFrame : public QWidget {
  Q_OBJECT
public:
  explicit TPortSetupFrame(QWidget* parent = nullptr);
  mkp::TPortSettings& Settings() { return settings_; }
  // Shows what the model holds (after ResetToDefaults or LoadSettings).
  void Refresh();

  QComboBox* PortNumCBox = nullptr;
  QComboBox* SpeedCBox = nullptr;
  QComboBox* StopBitCBox = nullptr;
  QComboBox* ParityCBox = nullptr;
  QLineEdit* ReadIntervalEd = nullptr;
  QLineEdit* WriteIntervalEd = nullptr;

private:
  void PortTyped();
  mkp::TPortSettings settings_;
  bool refreshing_ = false;
};

}  // namespace mkpt
