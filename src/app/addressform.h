// The bus address dialog: three spin edits for the device's Vorel address.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QSpinBox;

namespace mkpt {

class TVORELAddrForm : public QDialog {
  Q_OBJECT
public:
  explicit TVORELAddrForm(QWidget* parent = nullptr);
  // Splits, checks and shows an address text; a part that is not a whole
  // number becomes 255.
  void SetAddressText(const std::string& text);
  // The normalised address that the dialog gives back.
  const std::string& AddressText() const { return addressText_; }

  QSpinBox* AddrEditA = nullptr;
  QSpinBox* AddrEditB = nullptr;
  QSpinBox* AddrEditC = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CacelBtn = nullptr;

private:
  std::string addressText_;
};

}  // namespace mkpt
