#include "app/addressform.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/qtext.h"
#include "modes/address.h"

namespace mkpt {

namespace {

QFont Bold(const QFont& base, int pixels) {
  QFont font = base;
  font.setBold(true);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

TVORELAddrForm::TVORELAddrForm(QWidget* parent) : QDialog(parent) {
  setObjectName("VORELAddrForm");
  setWindowTitle(QString::fromUtf8("Vorel адрес"));
  auto spin = [this](const char* name, const QString& accessible) {
    auto* edit = new QSpinBox(this);
    edit->setObjectName(name);
    edit->setRange(0, 255);
    edit->setValue(0);
    edit->setFont(Bold(font(), 16));
    edit->setAccessibleName(accessible);
    return edit;
  };
  AddrEditA = spin("AddrEditA", "Address part A");
  AddrEditB = spin("AddrEditB", "Address part B");
  AddrEditC = spin("AddrEditC", "Address part C");
  auto dot = [this](const char* name) {
    auto* label = new QLabel(".", this);
    label->setObjectName(name);
    label->setFont(Bold(font(), 35));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    return label;
  };
  Label1 = dot("Label1");
  Label2 = dot("Label2");
  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CacelBtn = new QPushButton("Cancel", this);
  CacelBtn->setObjectName("CacelBtn");

  auto* grid = new QGridLayout(this);
  grid->addWidget(AddrEditA, 0, 0);
  grid->addWidget(Label1, 0, 1);
  grid->addWidget(AddrEditB, 0, 2);
  grid->addWidget(Label2, 0, 3);
  grid->addWidget(AddrEditC, 0, 4);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CacelBtn);
  grid->addLayout(buttons, 1, 0, 1, 5);
  setFixedSize(240, 107);

  connect(OKBtn, &QPushButton::clicked, this, [this] {
    SetAddressText(ToEngine(AddrEditA->text() + "." + AddrEditB->text() + "." + AddrEditC->text()));
    accept();
  });
  connect(CacelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TVORELAddrForm::SetAddressText(const std::string& text) {
  addressText_ = mkp::SetAddressText(text);
  // The spin edits show the three parts; a part beyond 0..255 shows as near as
  // the edit allows.
  const std::string& a = addressText_;
  const std::size_t first = a.find('.');
  const std::size_t second = a.find('.', first + 1);
  const QString parts[] = {FromEngine(a.substr(0, first)), FromEngine(a.substr(first + 1, second - first - 1)),
                           FromEngine(a.substr(second + 1))};
  QSpinBox* edits[] = {AddrEditA, AddrEditB, AddrEditC};
  for (int i = 0; i < 3; ++i) edits[i]->setValue(parts[i].toInt());
  OKBtn->setFocus();
}

}  // namespace mkpt
